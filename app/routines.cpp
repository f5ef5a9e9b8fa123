#include "app/routines.h"

namespace varnel {

// Not connected to the site yet: these handlers do nothing.
void launchCatalogueSync(Controls&) {}
void onEditionSelected(Controls&) {}
void onSubjectSelected(Controls&) {}
void onDownloadItem(Controls&) {}
void openBookFolder(Controls&) {}

}  // namespace varnel
