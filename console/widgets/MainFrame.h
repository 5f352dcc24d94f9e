#pragma once
// The console's main window: the list of virtual servers (icon and report
// views over one model), the details pane below it, the menus and the
// "Virtual Server Options" toolbar, the status bar with the service line, and
// the activity windows, one per port. Every command is a QAction known by its
// id (console/core/CommandIds.h), whatever sends it.

#include "console/core/Prompt.h"
#include "console/core/ScmServiceController.h"
#include "console/core/ServerConfiguration.h"
#include "console/core/ServiceCommands.h"
#include "console/widgets/ActivityWindowMap.h"
#include "console/widgets/ArrowCursorPrompt.h"
#include "console/widgets/ServerDetailsWnd.h"

#include <QMainWindow>
#include <QTimer>

#include <map>
#include <memory>

class CCommandBarXPCtrl;
class QAbstractItemView;
class QAction;
class QLabel;
class QListView;
class QMenu;
class QStackedWidget;
class QStandardItemModel;
class QToolBar;
class QTreeView;

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int kMinWidth = 350;
    static constexpr int kMinHeight = 340;
    static constexpr int kStartWidth = 500;
    static constexpr int kStartHeight = 300;
    static constexpr int kDetailsPaneHeight = 123;
    static constexpr int kServiceStatusIntervalMs = 500;
    static constexpr const char* kCreationTitle = "Wardlake 7 Settings";
    static constexpr const char* kToolBarTitle = "Virtual Server Options";
    static constexpr const char* kActivityTitleFormat = "Server Activity - %1";
    static constexpr const char* kClosePrompt = "Would you like to save your changes before closing?";

    // Loads the configuration from the registry and fills the list; message
    // boxes go through prompt, which must outlive the frame.
    explicit CMainFrame(IPrompt& prompt, QWidget* parent = nullptr);
    ~CMainFrame() override;

    // Runs the command as its menu item, button or key would; false for an
    // id that is not a command of this window.
    bool Trigger(int id);
    QAction* Action(int id) const;

    // Replaces the maker of activity windows (the live CServerActivityWnd by default).
    void SetActivityWindowFactory(ActivityWindowFactory factory);
    CActivityWindowMap& ActivityWindows() { return activities_; }
    // Replaces the service the commands and the status line reach (the
    // server's service through the service controller by default); service
    // must outlive the frame. A save waits for the service to stop with the
    // window's events running.
    void SetServiceController(IServiceController& service);

    CServerConfiguration& Configuration() { return config_; }
    bool IsSaving() const { return saving_; }
    // The record of the selected row; null when none is selected or the row has none.
    CVirtualServer* SelectedServer() const;
    int SelectedRow() const; // -1 when none
    int RowCount() const;
    bool IsIconView() const;
    QAbstractItemView* ServerView() const; // the view on show
    QListView* IconView() const { return iconView_; }
    QTreeView* ReportView() const { return reportView_; }
    CServerDetailsWnd* DetailsPane() const { return detailsPane_; }
    QToolBar* OptionsToolBar() const { return toolBar_; }
    CCommandBarXPCtrl* CommandBar() const { return commandBar_; }

    // The service line of the status bar, which menu prompts leave alone.
    QString ServiceStatusText() const;
    void SetServiceStatusText(const QString& text);

    void FillServerList();
    void SelectServerItem(int row);
    void AutoSizeColumns();
    void SetModified();

    // The bars are fixed: no menu to hide them.
    QMenu* createPopupMenu() override;

signals:
    // The frame closed for good (the close prompt was not cancelled).
    void Closed();

public slots:
    // The details pane saved its edits into the selected record.
    void OnServerEdited();

protected:
    // Commands filled in with the configuration, service control and update check.
    virtual void OnNewServer();
    virtual void OnDeleteServer();
    virtual void SaveConfiguration();
    virtual void OnStartService();
    virtual void OnStopService();
    virtual void UpdateServiceStatus();
    virtual void CheckForUpdates();

    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QAction* AddCommand(int id, const QString& text, void (CMainFrame::*handler)());
    void CreateCommands();
    void CreateMenus();
    void CreateToolBar();
    void CreateStatusBar();
    void CreateViews();
    CServerDetailsWnd* CreateDetailsPane();
    void CloseActivityWindowsOfGonePorts();
    void LoadConfiguration();

    void OnExit();
    void OnViewIcons();
    void OnViewList();
    void OnShowActivity();
    void OnRefresh();
    void OnAbout();
    void OnToggleStatusBar();
    void OnClearServerList();
    void OnServerSelected(CVirtualServer* server);
    void SetActivityWindowsVisible(bool visible);
    static QString ActivityTitle(const CVirtualServer& server);

    // Every box of the window shows the arrow, whatever the window is busy with.
    CArrowCursorPrompt prompt_;
    CServerConfiguration config_;
    CActivityWindowMap activities_;
    CScmServiceController scm_;
    std::unique_ptr<CServiceCommands> service_;
    // How the last configuration save ended.
    CServerConfiguration::SaveResult lastSave_ = CServerConfiguration::SaveResult::Saved;
    // A save is waiting for the service or writing: commands and closing wait for it.
    bool saving_ = false;
    std::map<int, QAction*> commands_;
    QStandardItemModel* model_ = nullptr;
    QStackedWidget* views_ = nullptr;
    QListView* iconView_ = nullptr;
    QTreeView* reportView_ = nullptr;
    CServerDetailsWnd* detailsPane_ = nullptr;
    QToolBar* toolBar_ = nullptr;
    CCommandBarXPCtrl* commandBar_ = nullptr;
    QLabel* serviceStatus_ = nullptr;
    QTimer serviceTimer_;
};
