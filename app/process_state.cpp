#include "app/process_state.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace varnel {
namespace {

#ifndef VARNEL_DEFAULT_BASE_URL
#define VARNEL_DEFAULT_BASE_URL "http://127.0.0.1:8080"
#endif

Text stripTrailingSlashes(std::string_view url) {
  while (!url.empty() && url.back() == '/') url.remove_suffix(1);
  return Text(url);
}

// Heap objects that are never freed: see the header.
struct ProcessState {
  WorkerPool pool;
  JsonValue categoryStore;
  Text catalogueOrigin;
  Text baseUrl;
  std::mutex listedMutex;
  ListedCategory listed;
};

std::atomic<int> actionClaim{0};  // the running action's claim; 0: none
std::atomic<bool> cancelRequested{false};

ProcessState& state() {
  static ProcessState* value = new ProcessState;
  return *value;
}

std::atomic<bool> shutdownDone{false};

void shutdownHandler() { runShutdownRoutine(); }

}  // namespace

Text resolveCatalogueOrigin(const std::optional<std::string>& option, const char* environmentValue,
                            std::string_view buildDefault) {
  const std::string_view fromArgs = option ? std::string_view(*option) : std::string_view();
  for (std::string_view candidate :
       {fromArgs, std::string_view(environmentValue ? environmentValue : ""), buildDefault}) {
    Text origin = stripTrailingSlashes(candidate);
    if (!origin.empty()) return origin;
  }
  return {};
}

std::string_view buildBaseUrl() { return VARNEL_DEFAULT_BASE_URL; }

void constructProcessState() { state(); }

WorkerPool& workerPool() { return state().pool; }
JsonValue& categoryStore() { return state().categoryStore; }

void setCatalogueOrigin(Text origin) { state().catalogueOrigin = std::move(origin); }
const Text& catalogueOrigin() { return state().catalogueOrigin; }

void setBaseUrl(Text url) { state().baseUrl = std::move(url); }
const Text& baseUrl() { return state().baseUrl; }

void setListedCategory(ListedCategory category) {
  std::lock_guard lock(state().listedMutex);
  state().listed = std::move(category);
}

ListedCategory listedCategory() {
  std::lock_guard lock(state().listedMutex);
  return state().listed;
}

int tryBeginAction() {
  static std::atomic<int> lastClaim{0};
  int claim = lastClaim.fetch_add(1) + 1;
  if (claim <= 0) claim = lastClaim = 1;  // after wrapping round
  int none = 0;
  return actionClaim.compare_exchange_strong(none, claim) ? claim : 0;
}
void endAction() { actionClaim = 0; }
void endAction(int claim) { actionClaim.compare_exchange_strong(claim, 0); }

void requestDownloadCancel() { cancelRequested = true; }
void clearDownloadCancel() { cancelRequested = false; }
bool downloadCancelRequested() { return cancelRequested; }
const std::atomic<bool>* downloadCancelFlag() { return &cancelRequested; }

void registerShutdownRoutine() {
  std::at_quick_exit(shutdownHandler);
  std::atexit(shutdownHandler);
}

void runShutdownRoutine() {
  if (shutdownDone.exchange(true)) return;
  // Stop without waiting: jobs still running are abandoned with the process.
  state().pool.stop(kStopNowNoWait);
  // BaseUrl and the store stay allocated: an abandoned thread may still read them.
  std::fflush(nullptr);
}

[[noreturn]] void leaveProcess(int exitCode) {
  runShutdownRoutine();
  std::quick_exit(exitCode);
}

}  // namespace varnel
