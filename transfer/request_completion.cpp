#include "transfer/request_completion.h"

#include <atomic>
#include <cstring>
#include <vector>

#include "core/records.h"
#include "files/trace.h"
#include "transfer/http_request.h"

namespace launcher {

// One request's completions. WinHTTP holds it through the request handle's
// context (a heap copy of a shared pointer, deleted when the handle
// closes), so a completion that comes after its waiter gave up, or a read
// still filling `buffer`, finds it alive.
//
// The waiter sleeps on `completions` with WaitOnAddress rather than on an
// event: under Wine every SetEvent and every wait on an event is a round
// trip to wineserver, while WaitOnAddress and WakeByAddressSingle stay in
// the process (futexes on Linux). A body comes in 8 KiB pieces (Wine's
// receive buffer), each a query and a read, so those round trips halved the
// download speed on loopback.
struct RequestCompletion {
  DWORD notice = 0;  // the WINHTTP_CALLBACK_STATUS_ of the last completion
  bool failed = false;
  DWORD result = 0;  // bytes available or read; the error code when failed
  // Where an asynchronous read lands: WinHTTP may still write it after the
  // caller gave up, so it lives as long as the request handle.
  std::vector<std::uint8_t> buffer;
  // The request looked a server up or opened a connection of its own; when
  // it did neither, it went out on a kept connection.
  bool connectedAnew = false;

  // The thread that makes the request's calls. WinHTTP runs a completion on
  // it, inside the call, when the call needs no waiting (Wine does so for a
  // read that its receive buffer already holds); such a completion is taken
  // when the call returns.
  DWORD caller = GetCurrentThreadId();
  bool inlined = false;  // written and read by `caller` only
  // Completions made on WinHTTP's own threads, and how many the caller took.
  std::atomic<LONG> completions{0};
  LONG taken = 0;
  DWORD_PTR context = 0;  // the request handle's context: a heap reference to this

  void Complete(DWORD status, bool failure, DWORD value) {
    notice = status;
    failed = failure;
    result = value;
    if (GetCurrentThreadId() == caller) {
      inlined = true;
      return;
    }
    completions.fetch_add(1, std::memory_order_release);
    WakeByAddressSingle(&completions);
  }
};

namespace {

using CompletionRef = std::shared_ptr<RequestCompletion>;

void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD length) {
  if (context == 0) return;  // the session's and connections' own notices
  auto* ref = reinterpret_cast<CompletionRef*>(context);
  if (status == WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING) {
    delete ref;  // the last notice of the handle
    return;
  }
  TakeNotice(**ref, status, info, length);
}

// Waits for the completion of the call just started, which WinHTTP gives as
// `expected` or as the request's error. Returns its result (a byte count, or
// 0) and sets `failed` when it failed. Any other notice is not this call's
// result (on Windows a stray one would hand a stale byte count to the wait,
// and a stale 0 reads as the end of the body): it fails the call, traced.
DWORD AwaitCompletion(RequestCompletion& completion, DWORD expected, HANDLE stop, bool& failed) {
  if (completion.inlined) {
    completion.inlined = false;
  } else {
    // WinHTTP's own time-outs bound every call; the slices only bound how
    // late the stop event is seen, also while the body keeps coming. Under
    // Wine each look at the event is a round trip to wineserver, which all
    // threads share: the time of the next look belongs to the thread, not to
    // the request, so a worker taking file after file looks every 50 ms
    // rather than at every request's first wait (a first install of 3,000
    // files by 8 workers on a loaded machine: 17.4 s, now 14.7 s; see
    // bench/README.md).
    constexpr DWORD kStopLookMs = 50;
    thread_local ULONGLONG nextStopLook = 0;  // GetTickCount64 time of the next look
    for (;;) {
      if (stop && GetTickCount64() >= nextStopLook) {
        nextStopLook = GetTickCount64() + kStopLookMs;
        if (WaitForSingleObject(stop, 0) == WAIT_OBJECT_0) throw TransferStopped{};
      }
      LONG seen = completion.taken;
      if (completion.completions.load(std::memory_order_acquire) != seen) break;
      WaitOnAddress(&completion.completions, &seen, sizeof(seen), kStopLookMs);
    }
    ++completion.taken;
  }
  if (completion.notice != expected && completion.notice != WINHTTP_CALLBACK_STATUS_REQUEST_ERROR) {
    Trace(L"a WinHTTP completion came for another call than the one waited for", completion.notice);
    failed = true;
    return ERROR_WINHTTP_INCORRECT_HANDLE_STATE;
  }
  failed = completion.failed;
  return completion.result;
}

[[noreturn]] void Interrupted() {
  throw LauncherError{L"The download was interrupted. Check your internet connection and try again."};
}

}  // namespace

void TakeNotice(RequestCompletion& completion, DWORD status, const void* info, DWORD length) {
  switch (status) {
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
      completion.Complete(status, false, 0);
      break;
    case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
      completion.Complete(status, false, *static_cast<const DWORD*>(info));
      break;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
      completion.Complete(status, false, length);
      break;
    case WINHTTP_CALLBACK_STATUS_RESOLVING_NAME:
    case WINHTTP_CALLBACK_STATUS_CONNECTING_TO_SERVER:
      // Comes before the send's completion, whose release publishes it.
      completion.connectedAnew = true;
      break;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
      completion.Complete(status, true, static_cast<const WINHTTP_ASYNC_RESULT*>(info)->dwError);
      break;
    default:
      break;
  }
}

bool WatchCompletions(HINTERNET session) {
  constexpr DWORD kNotices = WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES |
                             WINHTTP_CALLBACK_FLAG_RESOLVE_NAME | WINHTTP_CALLBACK_FLAG_CONNECT_TO_SERVER;
  return WinHttpSetStatusCallback(session, OnStatus, kNotices, 0) != WINHTTP_INVALID_STATUS_CALLBACK;
}

std::shared_ptr<RequestCompletion> TrackCompletions(HINTERNET request) {
  auto completion = std::make_shared<RequestCompletion>();
  auto* ref = new CompletionRef(completion);
  completion->context = reinterpret_cast<DWORD_PTR>(ref);
  if (!WinHttpSetOption(request, WINHTTP_OPTION_CONTEXT_VALUE, &completion->context, sizeof(completion->context))) {
    delete ref;
    return nullptr;
  }
  return completion;
}

SendResult SendAndReceive(HINTERNET request, RequestCompletion& completion, HANDLE stop, const std::wstring& headers) {
  SendResult result;
  if (!WinHttpSendRequest(request, headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
                          static_cast<DWORD>(headers.size()), WINHTTP_NO_REQUEST_DATA, 0, 0, completion.context)) {
    result.error = GetLastError();
    return result;
  }
  bool failed = false;
  result.error = AwaitCompletion(completion, WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE, stop, failed);
  if (!failed) {
    if (!WinHttpReceiveResponse(request, nullptr)) {
      result.error = GetLastError();
    } else {
      result.error = AwaitCompletion(completion, WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE, stop, failed);
      if (!failed) {
        result.answered = true;
        result.error = 0;
      }
    }
  }
  // Only a kept connection found closed or reset is worth a second try: a
  // time-out (a server that took the request and said nothing) would cost
  // the same wait again, and the player waits through every try.
  // Windows reports a reset as ERROR_WINHTTP_CONNECTION_ERROR; Wine 8 passes
  // the socket's own error on (10054, WSAECONNRESET). A connection closed
  // in order before any answer is ERROR_WINHTTP_INVALID_SERVER_RESPONSE on
  // both.
  constexpr DWORD kSocketReset = 10054;    // WSAECONNRESET
  constexpr DWORD kSocketAborted = 10053;  // WSAECONNABORTED
  const DWORD error = result.error;
  const bool dropped = error == ERROR_WINHTTP_CONNECTION_ERROR || error == ERROR_WINHTTP_INVALID_SERVER_RESPONSE ||
                       error == kSocketReset || error == kSocketAborted;
  result.onKeptConnection = !result.answered && !completion.connectedAnew && dropped;
  return result;
}

DWORD BytesReady(HttpRequest& request) {
  // Asynchronous calls report their counts through the completion only.
  if (!WinHttpQueryDataAvailable(request.handle(), nullptr)) Interrupted();
  bool failed = false;
  const DWORD ready =
      AwaitCompletion(request.completion(), WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE, request.stop(), failed);
  if (failed) Interrupted();
  return ready;
}

DWORD ReadBytes(HttpRequest& request, void* buffer, DWORD count) {
  RequestCompletion& completion = request.completion();
  completion.buffer.resize(count);
  if (!WinHttpReadData(request.handle(), completion.buffer.data(), count, nullptr)) Interrupted();
  bool failed = false;
  const DWORD read = AwaitCompletion(completion, WINHTTP_CALLBACK_STATUS_READ_COMPLETE, request.stop(), failed);
  if (failed) Interrupted();
  std::memcpy(buffer, completion.buffer.data(), read);
  return read;
}

}  // namespace launcher
