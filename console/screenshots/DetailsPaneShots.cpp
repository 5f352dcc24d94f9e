// Pictures of the details pane.

#include "console/screenshots/Screenshot.h"

#include "console/widgets/ServerDetailsWnd.h"

#include <QLineEdit>

// Editing: a name being typed, the folder following it, Save and Cancel shown.
TQ_SCREENSHOT(DetailsPaneEditing, "details-edit.png")
{
    stage.Frame().SelectServerItem(1);
    CServerDetailsWnd& pane = *stage.Frame().DetailsPane();
    pane.NameEdit()->setFocus();
    pane.NameEdit()->setText(QStringLiteral("Sales Office East"));
    pane.PortEdit()->setText(QStringLiteral("35011"));
    CScreenshotStage::Settle();
    return nullptr;
}
