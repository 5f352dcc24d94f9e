#pragma once
// The About box. Only its OK button ends it (Enter presses OK); Escape and the
// window's close button leave it open.

#include <QDialog>

class QLabel;
class QPushButton;

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* kCaption = "About Wardlake 7 Settings";
    static constexpr const char* kTitleLine = "Wardlake 7 Settings, build 1411";

    explicit CAboutDlg(QWidget* owner = nullptr);

    QPushButton* OkButton() const { return ok_; }
    QLabel* TitleLine() const { return title_; }

public slots:
    void reject() override;

private:
    QLabel* title_;
    QPushButton* ok_;
};
