#include "main_program/app/Windows.h"

#include "main_program/admin/AdministrationWindow.h"
#include "main_program/admin/RecordsWindow.h"
#include "main_program/common/Services.h"
#include "main_program/common/WindowNames.h"
#include "main_program/history/HistoryWindow.h"
#include "main_program/login/LoginWindow.h"
#include "main_program/timer/TimerWindow.h"
#include "platform/widgets/Forms.h"

namespace tallyon {

void defineWindows(Services& services)
{
    auto& forms = services.forms;
    forms.define(windows::login, [&services] { return new Form1(services); });
    forms.define(windows::history, [&services] { return new form2(services); });
    forms.define(windows::timer, [&services] { return new Form3(services); });
    forms.define(windows::administration, [&services] { return new Form4(services); });
    forms.define(windows::records, [&services] { return new Form5(services); });
}

} // namespace tallyon
