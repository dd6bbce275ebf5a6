// The module's two tables, each under its own lock: 10 slot entries (written
// at start-up and shutdown) and 20 session entries. Only the units that keep
// them (slots.cpp, sessions.cpp) and start-up reach them here, always under
// the table's lock; the rest of the module uses the accessors of p11_frame.h.
#pragma once

#include <array>
#include <mutex>

#include "frame/p11_frame.h"

struct P11_SLOT_TABLE {
  std::mutex mutex;
  std::array<ZEBP11_SLOT_INFO, P11_MAX_SLOTS> entries;
};

struct P11_SESSION_TABLE {
  std::mutex mutex;
  std::array<ZEBP11_SESSION_INFO, P11_MAX_SESSIONS> entries;
};

extern P11_SLOT_TABLE p11_slot_table;
extern P11_SESSION_TABLE p11_sess_table;

// Writes the reset values of one slot entry, or of one session entry (which
// releases its find state); the caller holds the table's lock.
void reset_p11_slot_entry(ZEBP11_SLOT_INFO& s) noexcept;
void reset_p11_session_entry(ZEBP11_SESSION_INFO& e) noexcept;
// Resets the 10 slot entries and the 20 session entries. The core sessions
// of open entries are not closed here (see P11_CloseEverySession).
void reset_p11_tables() noexcept;
