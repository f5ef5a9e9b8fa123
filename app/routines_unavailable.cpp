// Built instead of the routines when the build leaves out a library they need
// (see VARNEL_COMPONENTS): the window opens, but nothing is fetched.
#include "app/command_line.h"
#include "app/pdf_export.h"
#include "app/routines.h"

#include <cstdio>

namespace varnel {

void launchCatalogueSync(Controls&) {}
void onEditionSelected(Controls&) {}
void onSubjectSelected(Controls&) {}
void onDownloadItem(Controls&) {}
void openBookFolder(Controls&) {}
void onExportPdf(Controls&) {}

int runCommandLine(const CommandLine&, const CliEnvironment& environment) {
  std::fputs("varnel: this build has no catalogue routines\n", environment.err);
  return kExitFailed;
}

}  // namespace varnel
