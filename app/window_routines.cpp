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
      .downloadSelected = [c] { onDownloadSelected(*c); },
      .downloadAll = [c] { onDownloadAll(*c); },
      .cancelDownload = [c] { onCancelDownload(*c); },
      .openBookFolder = [c] { openBookFolder(*c); },
      .exportPdf = [c] { onExportPdf(*c); },
      .rowActivated = [c] { onRowActivated(*c); },
      .rowMenuShown = [c] { enableFolderMenuItems(*c); },
      .retrySync = [c] { onRetrySync(*c); },
      .progressTick = [c] { showDownloadProgress(*c); },
      .downloadRunning = [] { return downloadQueueRunning(); },
      .diagnoseSite =
          [] {
            return runSiteDoctor(*currentSiteProfile(), baseUrl(), !ignoreCertificateErrors())
                .text();
          },
  };
}

}  // namespace varnel
