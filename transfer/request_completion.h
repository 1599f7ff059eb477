// The completions of a request's asynchronous WinHTTP calls, and the waits
// for them: the send, the response headers and the body's reads. Used by the
// requests of transfer/ only.
//
// Every call on a request is asynchronous underneath, and its caller waits
// for the completion or for a stop event: a blocked synchronous call can be
// ended from another thread on Windows by closing its handle, but not under
// Wine, where it runs on until its own time-out. A request is used on the
// thread that sent it: a completion WinHTTP runs on that thread inside the
// call is taken without a wait.
#pragma once

#include <windows.h>

#include <winhttp.h>

#include <cstdint>
#include <memory>
#include <string>

namespace launcher {

class HttpRequest;

// One request's completions (defined in the source file).
struct RequestCompletion;

// What the status callback does with a notice WinHTTP gives for a request
// (its `status`, `info` and `length`): a completion for the request's
// waiter, or what the wait needs to know. Exposed for the tests of the
// waits, which hand notices over as WinHTTP would.
void TakeNotice(RequestCompletion& completion, DWORD status, const void* info, DWORD length);

// Routes the completions of every request made in `session` (opened with
// WINHTTP_FLAG_ASYNC) to their waiters; false when WinHTTP refused.
bool WatchCompletions(HINTERNET session);

// Gives `request` its completion; null when WinHTTP refused. WinHTTP holds
// a reference until the handle closes, so a completion that comes after its
// waiter gave up finds it alive.
std::shared_ptr<RequestCompletion> TrackCompletions(HINTERNET request);

// How a send and the wait for the response headers ended.
struct SendResult {
  bool answered = false;
  DWORD error = 0;  // WinHTTP's error code when not answered
  // Not answered because the connection kept from an earlier request (the
  // request neither looked the server up nor connected) was found closed or
  // reset; never for a time-out.
  bool onKeptConnection = false;
};

// Sends `request` with `headers` (none when empty) and waits for the response
// headers. Throws TransferStopped (http_request.h) once `stop` (an event,
// or null) is set.
SendResult SendAndReceive(HINTERNET request, RequestCompletion& completion, HANDLE stop, const std::wstring& headers);

// Every wait takes only the notice of the call it waits for (or the
// request's error); any other notice fails the call with a trace.

// Bytes of the body ready to read now; 0 once the body is complete. Throws
// "The download was interrupted. Check your internet connection and try again."
// and TransferStopped (the request's stop event).
DWORD BytesReady(HttpRequest& request);

// Reads up to `count` bytes into `buffer` and returns how many arrived; 0
// means the body is complete. Throws the same as BytesReady.
DWORD ReadBytes(HttpRequest& request, void* buffer, DWORD count);

}  // namespace launcher
