#include "console/widgets/QtPrompt.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTimer>

// A notice the user asked not to see again answers at once, without a box
// (a box would block this test).
TEST(QtPrompt, RememberedNoticeIsNotShownAgain)
{
    QCoreApplication::setOrganizationName("tq-test");
    QSettings("Tessary Quorle", "WLStatus").setValue("DontShowAgain/test-key", true);
    CQtPrompt prompt;
    EXPECT_EQ(prompt.NoticeWithCheck("text", "caption", PromptIcon::Information, "test-key"), PromptAnswer::Ok);
    QSettings("Tessary Quorle", "WLStatus").remove("DontShowAgain/test-key");
}

// A question whose Yes hands something over: Enter alone answers No, and so
// does closing the box.
TEST(QtPrompt, AYesNoQuestionLeansToNo)
{
    bool defaultIsNo = false;
    QTimer::singleShot(20, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            defaultIsNo = box->defaultButton() == box->button(QMessageBox::No);
            box->reject();
        }
    });
    CQtPrompt prompt;
    EXPECT_EQ(prompt.Message("Take it?", "caption", PromptButtons::YesNo, PromptIcon::Question), PromptAnswer::No);
    EXPECT_TRUE(defaultIsNo);
}

// Typing "log" where "log.txt" exists asks before replacing it: the dialog
// adds the suffix before its own question, and returns the name it asked about.
TEST(QtPrompt, SaveAsksAboutTheNameWithItsSuffix)
{
    tqtest::TempFolder folder;
    tqtest::WriteFileText(folder / "log.txt", "kept");
    QString question;
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            question = box->text();
            box->button(QMessageBox::Yes)->click();
        } else if (auto* dialog = qobject_cast<QFileDialog*>(modal); dialog != nullptr && question.isEmpty()) {
            // Typed and accepted in one go: the dialog's own directory
            // loading may clear the name box between two events.
            QMetaObject::invokeMethod(
                dialog,
                [&folder, dialog] {
                    dialog->setDirectory(QString::fromStdString(folder.Path()));
                    dialog->findChild<QLineEdit*>("fileNameEdit")->setText("log");
                    QMetaObject::invokeMethod(dialog, "accept", Qt::DirectConnection); // a protected slot
                },
                Qt::QueuedConnection);
        }
    });
    driver.start(20);
    CQtPrompt prompt;
    const auto chosen = prompt.SaveFileName("Save Activity", "Text Files (*.txt)", "txt");
    driver.stop();
    EXPECT_TRUE(question.contains("log.txt already exists")) << question.toStdString();
    EXPECT_EQ(chosen, std::optional<std::string>(folder / "log.txt"));
}
