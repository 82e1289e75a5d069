// The local relay, through which several programs on one computer share one tracker link. The
// master (the program that opened the link with open_lumavex_connection(3)) listens on the
// stream socket "./server.sock" of its working folder, passes every buffer of the tracker's
// packets on to its slaves, stamps and sends their messages, and makes their read requests. A
// slave (open_lumavex_connection(2)) reads its master's socket instead of the link, and sends
// messages and read requests, never commands.
//
// Threads: the master runs two of its own, wait_for_connections (takes slaves into free slots)
// and handle_slave_messages_thread (reads the slaves' records, drops slaves that left or fell
// behind). Forwarding runs on the receive thread and never waits: see SlaveOutbox.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/byte_io.h"
#include "lumavex_core.h"
#include "relay/relay_state.h"

namespace lvx {

// --- opening and closing (the connection lifecycle) ---

// Starts the master in the current working folder: 0, or -1 when the relay is not idle or the
// socket or its threads cannot be made (also when a live master listens there already).
int relay_start_master();
// Stops the master: its threads end, every slave's connection is closed and the server socket
// removed. -1 (the relay's own result for a stop), also when no master runs.
int relay_stop_master();
// Opens this process as a slave of the master in the current working folder: 0, or -1 when there
// is none or it refused (all its slots taken).
int relay_open_slave();
// Clears what a failed slave open left.
void relay_mark_failed();
// Closes a slave's connection to its master (telling the master when it can); nothing without one.
void relay_close_connection();
// The link to the tracker is being closed: stops a running master.
void relay_notify_disconnect();
// At process exit: tells the master's threads to stop and removes the server socket, waiting
// for nothing.
void relay_end_at_exit();

// --- a slave's traffic (the message router and requests) ---

// Hands a message and its time (local microseconds) to the master. 0, or -3 for a text longer
// than a slave record holds (993 characters).
int relay_send_message(const char *text, double message_time_us);
// Hands a read request to the master. 0, or -3 for a text longer than 993 characters.
int relay_read_request(const char *text);

// --- the receive thread (registered with the link by the owner) ---

// Master: passes a buffer of the tracker's packets on to every slave. Never waits.
void relay_forward(Bytes buffer);
// Slave: reads what the master sent into buf, waiting at most wait_ms. The bytes read, 0 when
// nothing came (or the master has just gone: the link is then marked disconnected), -1 without a
// connection.
int relay_read(uint8_t *buf, int room, int wait_ms);
// Slave: walks a buffer of the master's records: "LV_PKT:" around packets to walk, "LV_SER:" with
// the serial of a read request made for this slave. Returns the bytes used; the rest is an
// unfinished record, to be walked again with what follows.
int relay_buffer(const LVXADDR &sender, Bytes buffer);

// --- the owner ---

// Registers the services of the layers above, once, before any relay thread runs; a missing one,
// or a second registration, is refused (false).
[[nodiscard]] bool register_relay_services(const RelayServices &services);

// --- queries ---

// The relay mode: -1 idle, 0 master running, 1 slave connected.
int32_t relay_mode();
// Why the last master start or slave open failed, in words for the user.
const char *relay_failure();
// Slaves attached to this master.
int relay_slave_count();
// Test-only: the outbox limits of slaves attached from now on.
void set_relay_limits_for_testing(size_t max_backlog, uint32_t stall_ms);

}  // namespace lvx
