#pragma once
// The strip under the server list in which the selected virtual server is
// shown and edited in place. It changes only the record in memory and tells
// the window through saved(); the registry is written by the configuration
// save.

#include "platform/win/WinTypes.h"

#include <QWidget>

class CVirtualServer;
class IPrompt;
class QLabel;
class QLineEdit;
class QPushButton;

class CServerDetailsWnd : public QWidget {
    Q_OBJECT

public:
    static constexpr const char* kCaption = "Wardlake 7 Settings";
    static constexpr const char* kReadOnlyMessage = "This Virtual Server cannot be modified";
    static constexpr const char* kPortMessage = "The port number should be greater than %d and less than %d.";
    static constexpr int kHeight = 123;

    // Reads the install folder ("Path") once; boxes go through prompt.
    CServerDetailsWnd(IPrompt& prompt, QWidget* parent = nullptr);

    // E_INVALIDARG for no record (what is shown stays); otherwise shows the
    // record's values and hides Save and Cancel.
    HRESULT ShowServer(CVirtualServer* server);
    CVirtualServer* Server() const { return server_; }

    // Save and Cancel, as their buttons do.
    void OnSave();
    void OnCancel();

    QLineEdit* NameEdit() const { return nameEdit_; }
    QLineEdit* DescriptionEdit() const { return descriptionEdit_; }
    QLineEdit* PortEdit() const { return portEdit_; }
    QLabel* FolderDisplay() const { return folder_; }
    QPushButton* SaveButton() const { return save_; }
    QPushButton* CancelButton() const { return cancel_; }

signals:
    // The edits were copied into the record.
    void saved();

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OnNameChanged(const QString& name);
    void ShowButtons(bool show);

    IPrompt& prompt_;
    CVirtualServer* server_ = nullptr;
    std::string installFolder_;
    QLabel* header_;
    QLineEdit* nameEdit_;
    QLineEdit* descriptionEdit_;
    QLabel* folder_;
    QLineEdit* portEdit_;
    QPushButton* save_;
    QPushButton* cancel_;
};
