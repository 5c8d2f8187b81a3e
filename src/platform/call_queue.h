// SPDX-License-Identifier: BSD-3-Clause
// Between the shared queue of synchronised calls (host_thread.cpp) and the platform's
// host-thread layer: how a queued call wakes the host thread, and whether one waits.
#pragma once

namespace vornek::platform::detail {

/// Wakes the host thread for a call just queued. Supplied by the platform's layer;
/// called without any lock of the queue held.
void WakeForCall();

/// True when a synchronised call is waiting to be run. Takes the queue's lock briefly.
bool CallPending();

}  // namespace vornek::platform::detail
