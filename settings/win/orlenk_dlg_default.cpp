#include "settings/win/application_capture_stack.h"
#include "settings/win/orlenk_dlg.h"

namespace nerova::settings::win {

COrlenkDlg::COrlenkDlg() : COrlenkDlg(ApplicationCaptureStack()) {}

}  // namespace nerova::settings::win
