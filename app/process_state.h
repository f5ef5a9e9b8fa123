// Process-wide values shared by the program's routines, start-up and shutdown.
//
// The objects live until the process ends and are never destroyed: threads
// still running at exit are abandoned, and they must never find their pool or
// store freed under them. The shutdown routine stops the pool instead, and the
// process then leaves without running static destructors.
#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "text/text.h"

#include "json/json_value.h"
#include "pool/worker_pool.h"

namespace varnel {

inline constexpr const char* kBaseUrlEnvironment = "VARNEL_BASE_URL";

// The catalogue's origin: the --base-url value of the parsed command line wins,
// then the environment value, then the build's default; an empty or missing
// value falls through to the next. Trailing slashes are dropped, because paths
// taken from the site begin with "/" and are joined without a separator.
Text resolveCatalogueOrigin(const std::optional<std::string>& option, const char* environmentValue,
                            std::string_view buildDefault);
// The origin compiled into the program.
std::string_view buildBaseUrl();

// Constructs the process-wide objects: first the pool (not started), then the
// empty store. Later calls do nothing.
void constructProcessState();

// The pool that runs every page job; constructed on first use if needed.
WorkerPool& workerPool();
// edition name -> subject name -> book-list page address.
JsonValue& categoryStore();

// The origin the catalogue synchronisation will use (set at start-up).
void setCatalogueOrigin(Text origin);
const Text& catalogueOrigin();

// BaseUrl: empty until the synchronisation sets it; written only on the
// user-interface thread before any background thread starts, read-only after.
void setBaseUrl(Text url);
const Text& baseUrl();

// The edition and subject the book list on screen was fetched for. The book
// folder is named after them, not after what the combo boxes show by now.
struct ListedCategory {
  Text edition;
  Text subject;
};
void setListedCategory(ListedCategory category);
ListedCategory listedCategory();

// One user action (book list, download, PDF export) at a time: the handler
// claims it on the user-interface thread before its thread starts. The routine
// releases it as soon as the user may act again (endAction()), and its thread
// once more at its very end with the claim's id, which then releases nothing
// if the routine already did and another action has claimed since.
// tryBeginAction gives 0 while another action runs.
int tryBeginAction();
void endAction();
void endAction(int claim);

// Asks running and later downloads to stop handing out pages and to skip
// further attempts (the command line's Ctrl-C). Stays set until cleared.
void requestDownloadCancel();
void clearDownloadCancel();
bool downloadCancelRequested();
// The flag itself, for transfers that watch it while they run.
const std::atomic<bool>* downloadCancelFlag();

// Registered with the run-time at start-up; runs the shutdown routine at most
// once, however often it is called.
void registerShutdownRoutine();
void runShutdownRoutine();
// Runs the shutdown routine and ends the process without static destructors.
[[noreturn]] void leaveProcess(int exitCode);

}  // namespace varnel
