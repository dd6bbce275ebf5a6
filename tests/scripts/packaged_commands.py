#!/usr/bin/env python3
"""Every external command that the scripts and the client tests run comes
from a Debian package the scripts install (scripts/common.sh) or from the
minimal base system (essential and required packages), with what those
depend on. A fresh machine has nothing else.

    packaged_commands.py ROOT          check the tree at ROOT
    packaged_commands.py --self-test   check the command extraction itself

Commands are found where they run: in command position of shell code
(after ; | && || ( and the like, in $(...), `...`, <(...), `bash -c` strings,
behind sudo/env/xargs/timeout and the scripts' own functions that run "$@");
the programs Python and C++ test drivers start by name (subprocess, os.system,
run_program, run_command, std::system); and the modules the Python drivers
import. Each is resolved on the standard PATH and its file owned, through
dpkg -S, by an allowed package. A command found nowhere fails too.
Exit 0 when every command is accounted for, 1 otherwise (each missing one
named), 77 when this is no Debian system.
"""
import glob
import os
import re
import shutil
import subprocess
import sys

SYSTEM_PATH = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"

# Commands that run another command given as their next argument.
WRAPPERS = {"sudo", "exec", "env", "nohup", "nice", "time", "xargs", "timeout", "setsid", "stdbuf",
            "unshare", "nsenter", "flock", "builtin"}
# Reserved words after which a command follows.
LEADING = {"if", "then", "else", "elif", "do", "while", "until", "!", "{", "time"}
# Reserved words that close a compound command.
CLOSING = {"fi", "done", "}", "esac"}
OPS = ["&&", "||", ";;&", ";;", ";&", "|&", ";", "&", "|", "(", ")"]


class Word:
    def __init__(self, text, literal, quoted):
        self.text = text          # value with quotes removed
        self.literal = literal    # no expansion in it
        self.quoted = quoted      # some part was quoted


def match_close(src, i, open_ch, close_ch):
    """Index just past the `close_ch` that balances the `open_ch` before i."""
    depth = 1
    while i < len(src):
        c = src[i]
        if c == "\\":
            i += 2
            continue
        if c == "'":
            j = src.find("'", i + 1)
            i = len(src) if j < 0 else j + 1
            continue
        if c == '"':
            i = skip_dquote(src, i + 1, [])
            continue
        if c == open_ch:
            depth += 1
        elif c == close_ch:
            depth -= 1
            if depth == 0:
                return i + 1
        i += 1
    return len(src)


def skip_dquote(src, i, nested):
    """Index past the closing quote of a double-quoted part starting at i;
    command substitutions inside go to `nested`."""
    while i < len(src):
        c = src[i]
        if c == "\\":
            i += 2
            continue
        if c == '"':
            return i + 1
        if src.startswith("$((", i):
            i = match_close(src, i + 3, "(", ")")
            i = i + 1 if i < len(src) and src[i] == ")" else i
            continue
        if src.startswith("$(", i):
            j = match_close(src, i + 2, "(", ")")
            nested.append(src[i + 2:j - 1])
            i = j
            continue
        if c == "`":
            j = src.find("`", i + 1)
            j = len(src) if j < 0 else j
            nested.append(src[i + 1:j])
            i = j + 1
            continue
        i += 1
    return i


def tokenize(src, nested):
    """Shell tokens: ("w", Word), ("op", text), ("redir", text), ("nl", None).
    Comments and here-document bodies are dropped; the code of command and
    process substitutions goes to `nested`."""
    toks, i, n, heredocs = [], 0, len(src), []
    while i < n:
        c = src[i]
        if c == "\\" and i + 1 < n and src[i + 1] == "\n":
            i += 2
            continue
        if c in " \t":
            i += 1
            continue
        if c == "#":
            while i < n and src[i] != "\n":
                i += 1
            continue
        if c == "\n":
            toks.append(("nl", None))
            i += 1
            for delim in heredocs:  # bodies follow the line that opened them
                while i < n:
                    e = src.find("\n", i)
                    e = n if e < 0 else e
                    line = src[i:e]
                    i = e + 1
                    if line.strip("\t") == delim:
                        break
            heredocs = []
            continue
        if src.startswith(("<(", ">("), i):
            j = match_close(src, i + 2, "(", ")")
            nested.append(src[i + 2:j - 1])
            toks.append(("w", Word("", False, False)))
            i = j
            continue
        m = re.match(r"\d*(<<<|<<-|<<|>>|>&|<&|&>>|&>|>\||<>|>|<)", src[i:])
        if m and (m.group(0)[0] in "<>&" or i == 0 or src[i - 1] in " \t\n;|&("):
            op = m.group(1)
            i += len(m.group(0))
            if op in ("<<", "<<-"):
                while i < n and src[i] in " \t":
                    i += 1
                j = i
                while j < n and src[j] not in " \t\n;|&<>()":
                    j += 1
                heredocs.append(src[i:j].strip("'\"").lstrip("\\"))
                i = j
                continue
            if op in (">&", "<&"):  # a descriptor number or "-"
                mm = re.match(r"\s*[\d-]+", src[i:])
                if mm:
                    i += len(mm.group(0))
                    continue
            toks.append(("redir", op))
            continue
        op = next((o for o in OPS if src.startswith(o, i)), None)
        if op:
            toks.append(("op", op))
            i += len(op)
            continue
        # A word.
        text, literal, quoted = [], True, False
        while i < n:
            c = src[i]
            if c in " \t\n;&|()<>":
                if c == "(" and re.fullmatch(r"[A-Za-z_][A-Za-z0-9_]*(\[[^]]*\])?\+?=", "".join(text)):
                    i = match_close(src, i + 1, "(", ")")  # an array assignment
                    literal = False
                    continue
                break
            if c == "\\":
                text.append(src[i + 1:i + 2])
                i += 2
                continue
            if c == "'":
                j = src.find("'", i + 1)
                j = n if j < 0 else j
                text.append(src[i + 1:j])
                quoted = True
                i = j + 1
                continue
            if c == '"':
                j = skip_dquote(src, i + 1, nested)
                part = src[i + 1:j - 1]
                if "$" in part or "`" in part:
                    literal = False
                text.append(part)
                quoted = True
                i = j
                continue
            if src.startswith("$((", i):
                i = match_close(src, i + 3, "(", ")") + 1
                literal = False
                continue
            if src.startswith("$(", i):
                j = match_close(src, i + 2, "(", ")")
                nested.append(src[i + 2:j - 1])
                literal = False
                i = j
                continue
            if src.startswith("${", i):
                i = match_close(src, i + 2, "{", "}")
                literal = False
                continue
            if c == "`":
                j = src.find("`", i + 1)
                j = n if j < 0 else j
                nested.append(src[i + 1:j])
                literal = False
                i = j + 1
                continue
            if c == "$":
                literal = False
            text.append(c)
            i += 1
        toks.append(("w", Word("".join(text), literal, quoted)))
    return toks


def is_assignment(w):
    return re.match(r"[A-Za-z_][A-Za-z0-9_]*(\[[^]]*\])?\+?=", w.text) is not None and not w.text.startswith("=")


def shell_functions(src):
    """Names of the functions a script defines, and those of them that run
    their arguments as a command ("$@" in command position)."""
    names, wrappers = set(), set()
    for m in re.finditer(r"(?m)^[ \t]*(?:function[ \t]+)?([A-Za-z_][\w-]*)[ \t]*\(\)[ \t]*\{(.*?)^[ \t]*\}", src, re.S):
        names.add(m.group(1))
        if re.search(r'(^|[;&|(!]|\bif|\bthen|\bdo|\belse)[ \t]*"\$@"', m.group(2), re.M):
            wrappers.add(m.group(1))
    for m in re.finditer(r"(?m)^[ \t]*(?:function[ \t]+)?([A-Za-z_][\w-]*)[ \t]*\(\)", src):
        names.add(m.group(1))
    return names, wrappers


def shell_commands(src, wrapper_functions=frozenset()):
    """The command words of shell code (with the code nested in it)."""
    found, queue = [], [src]
    while queue:
        nested = []
        toks = tokenize(queue.pop(), nested)
        queue.extend(nested)
        found.extend(_commands_of(toks, wrapper_functions, queue))
    return found


def _commands_of(toks, wrapper_functions, queue):
    out = []
    cmd_pos, skip_until, state = True, None, []   # state: stack of "case_word" / "case_pat" / "case_body"
    after_redir = False
    pending = None  # what the previous command word asks of the next word
    k = 0
    while k < len(toks):
        kind, val = toks[k]
        k += 1
        if kind == "redir":
            after_redir = True
            continue
        if kind in ("nl", "op"):
            after_redir = False
            if skip_until and (kind == "nl" or val == ";") and skip_until == "eol":
                skip_until = None
            if state and state[-1] == "case_pat" and kind == "op" and val == ")":
                state[-1] = "case_body"
                cmd_pos = True
                continue
            if state and state[-1] == "case_body" and kind == "op" and val in (";;", ";&", ";;&"):
                state[-1] = "case_pat"
                cmd_pos = False
                continue
            if kind == "op" and val == "(" and pending == "funcdef":
                continue
            if kind == "op" and val == ")" and pending == "funcdef":
                pending = None
                cmd_pos = True
                continue
            if not skip_until:
                cmd_pos = True
                pending = None
            continue
        w = val
        if after_redir:
            after_redir = False
            continue
        if skip_until:
            if skip_until == "]]" and w.text == "]]":
                skip_until = None
                cmd_pos = False
            continue
        if state and state[-1] == "case_word":
            if w.text == "in":
                state[-1] = "case_pat"
            continue
        if state and state[-1] == "case_pat":
            if w.text == "esac" and w.literal and not w.quoted:
                state.pop()
                cmd_pos = False
            continue
        if pending == "bash":
            if w.text == "-c":
                pending = "bash-c"
                continue
            if w.text.startswith("-"):
                continue
            pending = None
            continue
        if pending == "bash-c":
            queue.append(w.text)
            pending = None
            continue
        if pending in ("wrapper", "timeout", "wrapfn"):
            if pending == "wrapfn":
                # Descriptions (words with spaces, quoted names) come first;
                # then the command, which may be held in a variable.
                if any(ch.isspace() for ch in w.text) or (w.quoted and w.literal) or w.text.startswith("-"):
                    continue
            elif w.text.startswith("-") or is_assignment(w):
                continue
            elif pending == "timeout" and re.fullmatch(r"[\d.]+[smhd]?", w.text):
                continue
            pending = None
            cmd_pos = True
        if not cmd_pos:
            continue
        if w.literal and not w.quoted:
            if w.text in LEADING:
                continue
            if w.text in CLOSING:
                if w.text == "esac" and state:
                    state.pop()
                cmd_pos = False
                continue
            if w.text == "case":
                state.append("case_word")
                cmd_pos = False
                continue
            if w.text == "for" or w.text == "select":
                skip_until = "eol"
                continue
            if w.text == "[[":
                skip_until = "]]"
                continue
            if w.text == "function":
                pending = "funcdef"
                continue
            if k < len(toks) and toks[k] == ("op", "(") and k + 1 < len(toks) and toks[k + 1] == ("op", ")"):
                pending = "funcdef"
                continue
        if is_assignment(w):
            continue
        cmd_pos = False
        if pending == "funcdef":
            pending = None
            continue
        out.append(w)
        name = os.path.basename(w.text) if w.literal else ""
        if name in ("bash", "sh"):
            pending = "bash"
        elif name == "command":
            if k < len(toks) and toks[k][0] == "w" and toks[k][1].text in ("-v", "-V"):
                pending = None  # a look-up, not a use
            else:
                pending = "wrapper"
        elif name == "timeout":
            pending = "timeout"
        elif name in WRAPPERS:
            pending = "wrapper"
        elif w.literal and w.text in wrapper_functions:
            pending = "wrapfn"
        elif not w.quoted and re.fullmatch(r"\$\{?\w+\}?", w.text):
            pending = "wrapper"  # "$sudo apt-get ...": a prefix that may be empty
        else:
            pending = None
    return out


PY_RUN = re.compile(r"""(?:subprocess\.\w+|os\.system|os\.popen|os\.exec\w+|shutil\.which)\(\s*\[?\s*[rbf]?(['"])([^'"]+)\1""")
PY_IMPORT = re.compile(r"(?m)^\s*(?:import\s+([\w.]+)|from\s+([\w.]+)\s+import)")
CPP_RUN = re.compile(r"""(?:run_program\(\s*\{|run_command\(|std::system\(|popen\(|exec[lv]p?\()\s*(?:std::string\()?\s*"([^"]*)\"""")


def python_commands(src):
    out = []
    for m in PY_RUN.finditer(src):
        first = m.group(2).split()
        if first:
            out.append(Word(first[0], True, False))
    return out


def python_modules(src):
    mods = set()
    for m in PY_IMPORT.finditer(src):
        mods.add((m.group(1) or m.group(2)).split(".")[0])
    return mods


def cpp_commands(src):
    out = []
    for m in CPP_RUN.finditer(src):
        first = m.group(1).split()
        if first:
            out.append(Word(first[0].strip("'"), True, False))
    return out


# ---- packages -----------------------------------------------------------------

def dpkg_rows(fmt):
    r = subprocess.run(["dpkg-query", "-W", "-f=" + fmt], capture_output=True, text=True, check=True)
    return [line.split("\t") for line in r.stdout.splitlines()]


def names_of(field):
    """Dependency groups of a Depends field: lists of package names."""
    groups = []
    for group in field.split(","):
        alts = [re.sub(r"[:\s(].*", "", a.strip()) for a in group.split("|")]
        alts = [a for a in alts if a]
        if alts:
            groups.append(alts)
    return groups


def allowed_packages(listed):
    rows = dpkg_rows("${Package}\t${Essential}\t${Priority}\t${Depends}\t${Pre-Depends}\t${Provides}\t${Status}\n")
    deps, providers, installed = {}, {}, set()
    base = set()
    for pkg, ess, prio, dep, pre, prov, status in rows:
        if "installed" not in status.split()[-1:]:
            continue
        installed.add(pkg)
        deps[pkg] = names_of(dep) + names_of(pre)
        for g in names_of(prov):
            providers.setdefault(g[0], set()).add(pkg)
        if ess == "yes" or prio == "required":
            base.add(pkg)
    closure, todo = set(), list(set(listed) | base)
    while todo:
        p = todo.pop()
        if p in closure:
            continue
        closure.add(p)
        for alts in deps.get(p, []):
            if any(a in closure for a in alts):
                continue
            first = alts[0]  # what apt installs on a machine that has none of them
            todo.extend([first] if first in installed else sorted(providers.get(first, ())))
    return closure


def owners(paths):
    """dpkg -S for many paths at once: {path: [packages]}."""
    if not paths:
        return {}
    r = subprocess.run(["dpkg", "-S"] + sorted(paths), capture_output=True, text=True)
    out = {}
    for line in r.stdout.splitlines():
        if line.startswith("diversion ") or ": " not in line:
            continue
        pkgs, path = line.split(": ", 1)
        out.setdefault(path, []).extend(p.strip().split(":")[0] for p in pkgs.split(","))
    return out


def candidates(path):
    """The path as dpkg may have recorded it (merged /usr), then what a
    symlink managed outside dpkg (alternatives) finally names."""
    def variants(p):
        v = [p]
        if p.startswith("/usr/bin/") or p.startswith("/usr/sbin/"):
            v.append(p[4:])
        elif p.startswith("/bin/") or p.startswith("/sbin/"):
            v.append("/usr" + p)
        return v
    return variants(path) + variants(os.path.realpath(path))


# ---- the tree ------------------------------------------------------------------

def files_of(root):
    pats = ["scripts/*.sh", ".ci/run", "tests/pkcs11/clients/*", "tests/support/*.sh",
            "tests/**/*.sh", "tests/**/*.py"]
    shell, python = set(), set()
    for p in pats:
        for f in glob.glob(os.path.join(root, p), recursive=True):
            if os.path.samefile(f, __file__):
                continue  # its self-test names commands on purpose
            if f.endswith(".py"):
                python.add(f)
            elif os.path.isfile(f):
                shell.add(f)
    cpp = set(glob.glob(os.path.join(root, "tests/**/*.cpp"), recursive=True) +
              glob.glob(os.path.join(root, "tests/**/*.h"), recursive=True))
    return sorted(shell), sorted(python), sorted(cpp)


def listed_packages(root):
    r = subprocess.run(["bash", "-c", 'source "$1/scripts/common.sh" >/dev/null && '
                        'printf "%s\\n" "${PACKAGES[@]}" "${FUZZ_PACKAGES[@]}"', "-", root],
                       capture_output=True, text=True, check=True)
    return set(r.stdout.split())


def bash_builtins():
    r = subprocess.run(["bash", "-c", "compgen -b; compgen -k"], capture_output=True, text=True, check=True)
    return set(r.stdout.split())


def check(root):
    if shutil.which("dpkg", path=SYSTEM_PATH) is None:
        print("no dpkg: not a Debian system")
        return 77
    shell, python, cpp = files_of(root)
    sources = {f: open(f, encoding="utf-8", errors="replace").read() for f in shell + python + cpp}
    functions, wrappers = set(), set()
    for f in shell:
        names, wraps = shell_functions(sources[f])
        functions |= names
        wrappers |= wraps
    for f in python:  # shell code in the Python drivers' here-strings is not looked at
        pass
    skip = bash_builtins() | functions
    # Commands a script looks up first ("command -v X") and does without.
    optional = {m.group(1) for f in shell for m in re.finditer(r"command -v ([\w.+-]+)", sources[f])}
    uses = {}  # command -> files
    for f in shell:
        for w in shell_commands(sources[f], wrappers):
            if w.literal and w.text and w.text not in skip:
                uses.setdefault(w.text, set()).add(os.path.relpath(f, root))
    for f in python:
        for w in python_commands(sources[f]):
            uses.setdefault(w.text, set()).add(os.path.relpath(f, root))
    for f in cpp:
        for w in cpp_commands(sources[f]):
            uses.setdefault(w.text, set()).add(os.path.relpath(f, root))

    problems, paths = [], {}
    for cmd in sorted(uses):
        if "/" in cmd and not cmd.startswith("/"):
            continue  # a file of the tree, run by its path
        path = cmd if cmd.startswith("/") else shutil.which(cmd, path=SYSTEM_PATH)
        if path is None or not os.path.exists(path):
            if cmd in optional:
                continue
            if "/" not in cmd and re.fullmatch(r"[\w.+-]+", cmd) and not re.search(r"[A-Z]", cmd[:1]):
                problems.append(f"{cmd}: not found (run by {', '.join(sorted(uses[cmd]))})")
            continue
        paths[cmd] = path

    # Python modules the drivers import: their files must be packaged too.
    modules = set()
    for f in python:
        modules |= python_modules(sources[f])
    mod_files = {}
    if modules and python:
        code = ("import importlib.util,sys\n"
                "for m in sys.argv[1:]:\n"
                "  try: s=importlib.util.find_spec(m)\n"
                "  except Exception: s=None\n"
                "  print(m, (s.origin if s and s.origin else '-'))\n")
        r = subprocess.run(["/usr/bin/python3", "-c", code] + sorted(modules), capture_output=True, text=True,
                           cwd="/", check=True)
        for line in r.stdout.splitlines():
            m, origin = line.split(" ", 1)
            if origin in ("-", "built-in", "frozen"):
                if origin == "-" and not any(os.path.exists(os.path.join(os.path.dirname(f), m + ".py"))
                                             for f in python):
                    problems.append(f"python module {m}: not found")
                continue
            mod_files["python module " + m] = origin

    allowed = allowed_packages(listed_packages(root))
    wanted = {p for path in list(paths.values()) + list(mod_files.values()) for p in candidates(path)}
    own = owners(wanted)
    for what, path in sorted(list(paths.items()) + list(mod_files.items())):
        pkgs = next((own[c] for c in candidates(path) if c in own), None)
        where = "" if what.startswith("python module") else f" (run by {', '.join(sorted(uses[what]))})"
        if pkgs is None:
            problems.append(f"{what}: {path} belongs to no Debian package{where}")
        elif not any(p in allowed for p in pkgs):
            problems.append(f"{what}: {path} comes from {', '.join(pkgs)}, which no script installs "
                            f"and the base system lacks{where}")
    for p in problems:
        print("missing:", p)
    print(f"{len(paths)} commands and {len(mod_files)} Python modules checked, {len(problems)} not provided")
    return 1 if problems else 0


def self_test():
    """The extraction on the forms the tree uses."""
    src = r'''
# a comment naming notacommand
set -euo pipefail
printf '%s' "$key" | hexpack -r -p > aes.key
x="$(od -An -tx1 f | tr -d ' \n')"
step "a description with words" bash -c "pkcs11-tool -L && p11tool --list"
step "another" cmpx a b
f() { local what="$1"; shift; if "$@" >log 2>&1; then echo ok; fi; }
case "$1" in
  start) sleepy 1 ;;
  stop|port) kill "$pid" ;;
esac
for t in alpha beta; do grep -q "$t" file || true; done
[[ -n "$x" ]] && sudo -n apt-get update
command -v seekme >/dev/null || exit 77
python3 - <<'PY'
import notamodule
heredocbody
PY
VAR=1 env A=2 timeout 5 nproc
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y x
arr=(one two three)
while read -r l; do :; done < <(findmnt)
exec env Z=1 unshare -n bash -c 'ip link set lo up && exec bash "$0"' "$0"
'''
    got = {w.text for w in shell_commands(src, {"step"}) if w.literal}
    want = {"set", "printf", "hexpack", "od", "tr", "bash", "pkcs11-tool", "p11tool", "cmpx", "shift", "echo",
            "local", "sleepy", "kill", "grep", "true", "sudo", "apt-get", "command", "exit", "python3", "env",
            "timeout", "nproc", "read", ":", "findmnt", "exec", "unshare", "ip", "step"}
    extra = got - want
    lost = want - got
    ok = not extra and not lost
    if not ok:
        print("extraction wrong: unexpected", sorted(extra), "missed", sorted(lost))
    py = {w.text for w in python_commands('subprocess.run(["hexpack", "-r"])\nos.system("od -An f")\n')}
    cpp = {w.text for w in cpp_commands('run_program({"nm", "-D"}, &out); std::system(std::string("bash \'") + x);'
                                        'run_command("/usr/bin/python3 " + p)')}
    if py != {"hexpack", "od"} or cpp != {"nm", "bash", "/usr/bin/python3"}:
        print("driver extraction wrong:", py, cpp)
        ok = False
    print("extraction self-test", "passed" if ok else "FAILED")
    return 0 if ok else 1


if __name__ == "__main__":
    if sys.argv[1:] == ["--self-test"]:
        sys.exit(self_test())
    if len(sys.argv) != 2:
        print(__doc__)
        sys.exit(2)
    sys.exit(check(os.path.abspath(sys.argv[1])))
