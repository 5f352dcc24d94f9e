// Pictures of the flat command bar and the toolbar beside it.

#include "console/screenshots/Screenshot.h"

#include "console/core/CommandIds.h"

TQ_SCREENSHOT(ToolBarHotButton, "toolbar-hot.png")
{
    stage.HoverToolBarButton(cmd::kViewServerActivity);
    return nullptr;
}

TQ_SCREENSHOT(ViewMenuChecked, "view-menu.png")
{
    stage.OpenMenu(QStringLiteral("&View"), cmd::kViewIcons);
    return nullptr;
}
