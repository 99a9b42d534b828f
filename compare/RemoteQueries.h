#pragma once

#include "ftp/Session.h"

#include <functional>

class SessionPool;

// Asks the server one question per item, over the main session and up to
// `extra` more of the host's pool (or, without one, logged in with its settings
// for these questions alone), each on a thread of its own as it logs in; the
// calling thread waits, calling whileWaiting every few milliseconds (an
// exception from it stops the questions not yet asked and goes on to the
// caller once the threads have ended).
//
// `ask` carries out item `index` over a session and answers false when that
// session failed in a way another may not (its connection broke): the item is
// then asked again over the main session, and that answer counts; the
// session that failed asks nothing more. Items are taken in order. The main
// session is used from another thread until this returns.
void AskEach(const Session& main, int extra, int count,
             const std::function<bool(const Session& session, int index)>& ask,
             const std::function<void()>& whileWaiting, SessionPool* pool = nullptr);
