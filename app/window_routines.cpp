#include "app/window_routines.h"

#include "app/pdf_export.h"
#include "app/process_state.h"
#include "app/routines.h"
#include "app/settings.h"
#include "app/site_doctor.h"
#include "app/site_profile.h"

namespace varnel {

MainWindowHandlers routineHandlers(Controls& controls) {
  Controls* c = &controls;
  return {
      .created = [c] { launchCatalogueSync(*c); },
      .editionSelected = [c] { onEditionSelected(*c); },
      .subjectSelected = [c] { onSubjectSelected(*c); },
      .downloadItem = [c] { onDownloadItem(*c); },
      .openBookFolder = [c] { openBookFolder(*c); },
      .exportPdf = [c] { onExportPdf(*c); },
      // The row's own action is the menu's first item; once a row knows its book
      // is complete on disk, this is where it opens the book's folder instead.
      .rowActivated = [c] { onDownloadItem(*c); },
      .diagnoseSite =
          [] {
            return runSiteDoctor(*currentSiteProfile(), baseUrl(), !ignoreCertificateErrors())
                .text();
          },
  };
}

}  // namespace varnel
