// The installed user-dialog seam.
#include "userdialogs.h"

#include <QtGlobal>

namespace {
UserDialogs *installed = nullptr;
}

UserDialogs &userDialogs()
{
    Q_ASSERT_X(installed, "userDialogs", "no dialog implementation installed");
    return *installed;
}

UserDialogs *setUserDialogs(UserDialogs *dialogs)
{
    UserDialogs *previous = installed;
    installed = dialogs;
    return previous;
}
