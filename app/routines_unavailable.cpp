// Built instead of the routines when the build leaves out a library they need
// (see VARNEL_COMPONENTS): the window opens, but nothing is fetched.
#include "app/routines.h"

namespace varnel {

void launchCatalogueSync(Controls&) {}
void onEditionSelected(Controls&) {}
void onSubjectSelected(Controls&) {}
void onDownloadItem(Controls&) {}
void openBookFolder(Controls&) {}

}  // namespace varnel
