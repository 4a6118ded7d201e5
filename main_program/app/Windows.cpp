#include "Windows.h"

#include "Form3.h"
#include "Form4.h"
#include "Form5.h"
#include "Forms.h"
#include "LoginWindow.h"
#include "Services.h"
#include "WindowNames.h"
#include "form2.h"

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
