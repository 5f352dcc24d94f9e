#include "console/widgets/MainFrame.h"

#include "console/core/CommandIds.h"
#include "console/core/UpdateCheck.h"
#include "console/widgets/AboutDlg.h"
#include "console/widgets/CommandBarXPCtrl.h"
#include "console/widgets/ConsoleImages.h"
#include "console/widgets/ServerActivityWnd.h"
#include "console/widgets/ServerDetailsWnd.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QHeaderView>
#include <QLabel>
#include <QListView>
#include <QMenuBar>
#include <QStackedWidget>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

namespace {

enum Column { kNameColumn, kPortColumn, kFolderColumn, kDescriptionColumn, kColumnCount };
constexpr int kRecordRole = Qt::UserRole + 1;

// The status-bar prompt and the tooltip of a command, as "prompt\ntip".
void SetPrompt(QAction* action, const char* text)
{
    const QStringList parts = QString::fromLatin1(text).split(QLatin1Char('\n'));
    action->setStatusTip(parts.value(0));
    if (parts.size() > 1)
        action->setToolTip(parts.value(1));
}

// Toolbar buttons show a tooltip only for commands that have a prompt string;
// Qt would otherwise repeat the button's own text.
class PromptlessToolTipFilter : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::ToolTip)
            if (auto* button = qobject_cast<QToolButton*>(watched))
                if (button->defaultAction() && button->defaultAction()->statusTip().isEmpty())
                    return true;
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

CMainFrame::CMainFrame(IPrompt& prompt, QWidget* parent)
    : QMainWindow(parent), prompt_(prompt),
      activities_([this](DWORD port) { return std::make_unique<CServerActivityWnd>(port, prompt_); })
{
    setWindowTitle(QString::fromLatin1(kCreationTitle));
    setWindowIcon(images::ProgramIcon());
    setMinimumSize(kMinWidth, kMinHeight);
    SetServiceController(scm_);
    CreateCommands();
    CreateMenus();
    CreateToolBar();
    CreateStatusBar();
    CreateViews();
    LoadConfiguration();
    FillServerList();
    serviceTimer_.setInterval(kServiceStatusIntervalMs);
    connect(&serviceTimer_, &QTimer::timeout, this, &CMainFrame::UpdateServiceStatus);
    serviceTimer_.start();
}

CMainFrame::~CMainFrame()
{
    serviceTimer_.stop();
    activities_.CloseAll();
}

QAction* CMainFrame::AddCommand(int id, const QString& text, void (CMainFrame::*handler)())
{
    auto* action = new QAction(text, this);
    action->setData(id);
    connect(action, &QAction::triggered, this, [this, handler] {
        // Nothing may change the records or the service under a save.
        if (!saving_)
            (this->*handler)();
    });
    // Known to the frame itself too, so that commands no menu holds still have a home.
    addAction(action);
    commands_[id] = action;
    return action;
}

void CMainFrame::CreateCommands()
{
    QAction* a = AddCommand(cmd::kFileNew, tr("&New Virtual Server"), &CMainFrame::OnNewServer);
    a->setIcon(images::NewServerIcon());
    a->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    a->setShortcutContext(Qt::ApplicationShortcut); // also from activity windows
    SetPrompt(a, "Create a new Virtual Server\nNew Virtual Server");

    a = AddCommand(cmd::kFileSave, tr("&Save Configuration"), &CMainFrame::SaveConfiguration);
    a->setIcon(images::SaveIcon());
    a->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    a->setShortcutContext(Qt::ApplicationShortcut);

    a = AddCommand(cmd::kAppExit, tr("E&xit"), &CMainFrame::OnExit);
    SetPrompt(a, "Quit the application\nExit");

    SetPrompt(AddCommand(cmd::kServiceStart, tr("&Start"), &CMainFrame::OnStartService),
              "Start the Wardlake Service\nStart");
    SetPrompt(AddCommand(cmd::kServiceStop, tr("S&top"), &CMainFrame::OnStopService),
              "Stop the Wardlake service\nStop");

    auto* viewGroup = new QActionGroup(this);
    a = AddCommand(cmd::kViewIcons, tr("&Icons"), &CMainFrame::OnViewIcons);
    a->setCheckable(true);
    a->setChecked(true);
    viewGroup->addAction(a);
    a = AddCommand(cmd::kViewList, tr("&List"), &CMainFrame::OnViewList);
    a->setCheckable(true);
    viewGroup->addAction(a);

    a = AddCommand(cmd::kViewServerActivity, tr("Server &Activity"), &CMainFrame::OnShowActivity);
    a->setIcon(images::ActivityIcon());
    AddCommand(cmd::kViewRefresh, tr("&Refresh"), &CMainFrame::OnRefresh);
    AddCommand(cmd::kAppAbout, tr("&About Wardlake Settings..."), &CMainFrame::OnAbout);

    // Toolbar-only commands.
    AddCommand(cmd::kNewServer, tr("New Server"), &CMainFrame::OnNewServer)->setIcon(images::NewServerIcon());
    AddCommand(cmd::kDeleteServer, tr("Delete Server"), &CMainFrame::OnDeleteServer)->setIcon(images::DeleteIcon());

    // Commands that nothing in the window sends.
    a = AddCommand(cmd::kViewStatusBar, tr("Status Bar"), &CMainFrame::OnToggleStatusBar);
    a->setCheckable(true);
    a->setChecked(true);
    AddCommand(cmd::kCheckForUpdates, tr("Check for Updates"), &CMainFrame::CheckForUpdates);
    AddCommand(cmd::kClearServerList, tr("Clear Server List"), &CMainFrame::OnClearServerList);
}

void CMainFrame::CreateMenus()
{
    commandBar_ = new CCommandBarXPCtrl(this);
    setMenuBar(commandBar_);
    QMenu* file = menuBar()->addMenu(tr("&File"));
    file->addAction(Action(cmd::kFileNew));
    file->addSeparator();
    file->addAction(Action(cmd::kFileSave));
    file->addSeparator();
    file->addAction(Action(cmd::kAppExit));

    QMenu* service = menuBar()->addMenu(tr("&Service"));
    service->addAction(Action(cmd::kServiceStart));
    service->addAction(Action(cmd::kServiceStop));

    QMenu* view = menuBar()->addMenu(tr("&View"));
    view->addAction(Action(cmd::kViewIcons));
    view->addAction(Action(cmd::kViewList));
    view->addSeparator();
    view->addAction(Action(cmd::kViewServerActivity));
    view->addSeparator();
    view->addAction(Action(cmd::kViewRefresh));

    QMenu* help = menuBar()->addMenu(tr("&Help"));
    help->addAction(Action(cmd::kAppAbout));
}

void CMainFrame::CreateToolBar()
{
    toolBar_ = new QToolBar(QString::fromLatin1(kToolBarTitle), this);
    toolBar_->setObjectName(QStringLiteral("VirtualServerOptions"));
    toolBar_->setMovable(false);
    toolBar_->setFloatable(false);
    toolBar_->setIconSize(QSize(16, 16));
    toolBar_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    // The band's title stands before its buttons.
    auto* title = new QLabel(QString::fromLatin1(kToolBarTitle), toolBar_);
    title->setContentsMargins(4, 0, 8, 0);
    toolBar_->addWidget(title);
    toolBar_->addAction(Action(cmd::kNewServer));
    toolBar_->addAction(Action(cmd::kDeleteServer));
    toolBar_->addAction(Action(cmd::kViewServerActivity));
    auto* filter = new PromptlessToolTipFilter(toolBar_);
    for (int id : {cmd::kNewServer, cmd::kDeleteServer, cmd::kViewServerActivity})
        toolBar_->widgetForAction(Action(id))->installEventFilter(filter);
    addToolBar(Qt::TopToolBarArea, toolBar_);
    commandBar_->UseFlatLook(toolBar_);
}

void CMainFrame::CreateStatusBar()
{
    serviceStatus_ = new QLabel(this);
    serviceStatus_->setObjectName(QStringLiteral("ServiceStatus"));
    statusBar()->addPermanentWidget(serviceStatus_);
    statusBar()->setSizeGripEnabled(true);
}

void CMainFrame::CreateViews()
{
    model_ = new QStandardItemModel(0, kColumnCount, this);
    model_->setHorizontalHeaderLabels({tr("Name"), tr("Port"), tr("Storage Folder"), tr("Description")});

    iconView_ = new QListView;
    iconView_->setModel(model_);
    iconView_->setViewMode(QListView::IconMode);
    iconView_->setIconSize(QSize(48, 48));
    iconView_->setMovement(QListView::Static);
    iconView_->setResizeMode(QListView::Adjust);
    iconView_->setFlow(QListView::LeftToRight);
    iconView_->setWrapping(true);
    iconView_->setWordWrap(true);
    iconView_->setSpacing(8);
    iconView_->setGridSize(QSize(110, 84));

    reportView_ = new QTreeView;
    reportView_->setModel(model_);
    reportView_->setRootIsDecorated(false);
    reportView_->setUniformRowHeights(true);
    reportView_->setItemsExpandable(false);
    reportView_->setAllColumnsShowFocus(true);
    reportView_->setIconSize(QSize(16, 16));
    reportView_->setSortingEnabled(false);
    reportView_->header()->setSectionsMovable(false);
    reportView_->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    reportView_->setSelectionModel(iconView_->selectionModel());

    for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(iconView_), static_cast<QAbstractItemView*>(reportView_)}) {
        view->setSelectionMode(QAbstractItemView::SingleSelection);
        view->setSelectionBehavior(QAbstractItemView::SelectRows);
        view->setEditTriggers(QAbstractItemView::NoEditTriggers);
        connect(view, &QAbstractItemView::activated, this, &CMainFrame::OnShowActivity);
    }
    connect(iconView_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection& selected) {
                if (selected.isEmpty())
                    return;
                OnServerSelected(
                    static_cast<CVirtualServer*>(selected.indexes().first().siblingAtColumn(kNameColumn).data(kRecordRole).value<void*>()));
            });

    views_ = new QStackedWidget;
    views_->addWidget(iconView_);
    views_->addWidget(reportView_);
    views_->setCurrentWidget(iconView_);

    detailsPane_ = CreateDetailsPane();
    detailsPane_->setFixedHeight(kDetailsPaneHeight);

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(views_, 1);
    layout->addWidget(detailsPane_);
    setCentralWidget(central);
}

CServerDetailsWnd* CMainFrame::CreateDetailsPane()
{
    auto* pane = new CServerDetailsWnd(prompt_);
    connect(pane, &CServerDetailsWnd::saved, this, &CMainFrame::OnServerEdited);
    return pane;
}

void CMainFrame::SetServiceController(IServiceController& service)
{
    service_ = std::make_unique<CServiceCommands>(
        service, prompt_, [this](const std::string& text) { SetServiceStatusText(QString::fromStdString(text)); },
        [](int milliseconds) {
            // The window keeps painting and answering while the service stops.
            QEventLoop wait;
            QTimer::singleShot(milliseconds, &wait, &QEventLoop::quit);
            wait.exec();
        });
}

void CMainFrame::LoadConfiguration()
{
    const std::string problem = config_.Load();
    setWindowTitle(QString::fromStdString(config_.Title()));
    // Said once the window is up, over it.
    if (!problem.empty())
        QMetaObject::invokeMethod(
            this,
            [this, problem] {
                prompt_.Message(problem, CServerConfiguration::kTitle, PromptButtons::Ok, PromptIcon::Error);
            },
            Qt::QueuedConnection);
}

QAction* CMainFrame::Action(int id) const
{
    auto it = commands_.find(id);
    return it == commands_.end() ? nullptr : it->second;
}

bool CMainFrame::Trigger(int id)
{
    QAction* action = Action(id);
    if (!action)
        return false;
    action->trigger();
    return true;
}

void CMainFrame::SetActivityWindowFactory(ActivityWindowFactory factory)
{
    activities_.SetFactory(std::move(factory));
}

int CMainFrame::SelectedRow() const
{
    const QModelIndexList rows = iconView_->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

CVirtualServer* CMainFrame::SelectedServer() const
{
    const int row = SelectedRow();
    if (row < 0)
        return nullptr;
    return static_cast<CVirtualServer*>(model_->index(row, kNameColumn).data(kRecordRole).value<void*>());
}

int CMainFrame::RowCount() const
{
    return model_->rowCount();
}

bool CMainFrame::IsIconView() const
{
    return views_->currentWidget() == iconView_;
}

QAbstractItemView* CMainFrame::ServerView() const
{
    return static_cast<QAbstractItemView*>(views_->currentWidget());
}

QString CMainFrame::ServiceStatusText() const
{
    return serviceStatus_->text();
}

void CMainFrame::SetServiceStatusText(const QString& text)
{
    serviceStatus_->setText(text);
}

void CMainFrame::FillServerList()
{
    model_->removeRows(0, model_->rowCount());
    for (const auto& record : config_.Records()) {
        auto* name = new QStandardItem(images::ServerIcon(record->IsReadOnly() ? images::kReadOnlyServerImage
                                                                               : images::kServerImage),
                                       QString::fromStdString(record->Name()));
        name->setData(QVariant::fromValue(static_cast<void*>(record.get())), kRecordRole);
        QList<QStandardItem*> row{name, new QStandardItem(QString::fromStdString(record->FormatPortText())),
                                  new QStandardItem(QString::fromStdString(record->StorageFolder())),
                                  new QStandardItem(QString::fromStdString(record->Description()))};
        for (QStandardItem* item : row)
            item->setEditable(false);
        model_->appendRow(row);
    }
    SelectServerItem(0);
    AutoSizeColumns();
}

void CMainFrame::SelectServerItem(int row)
{
    if (row < 0 || row >= model_->rowCount())
        return;
    const QModelIndex index = model_->index(row, kNameColumn);
    iconView_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                            QItemSelectionModel::Rows);
    ServerView()->scrollTo(index, QAbstractItemView::EnsureVisible);
}

void CMainFrame::AutoSizeColumns()
{
    // Each column as wide as the wider of its contents and its header.
    for (int column = 0; column < kColumnCount; ++column)
        reportView_->resizeColumnToContents(column);
}

void CMainFrame::SetModified()
{
    config_.SetModified();
    setWindowTitle(QString::fromStdString(config_.Title()));
}

QString CMainFrame::ActivityTitle(const CVirtualServer& server)
{
    return QString::fromLatin1(kActivityTitleFormat).arg(QString::fromStdString(server.Name()));
}

void CMainFrame::OnServerEdited()
{
    SetModified();
    const int row = SelectedRow();
    FillServerList();
    SelectServerItem(row);
    for (const auto& record : config_.Records())
        if (IActivityWindow* window = activities_.FindOpen(record->Port()))
            window->SetTitle(ActivityTitle(*record));
}

void CMainFrame::OnServerSelected(CVirtualServer* server)
{
    detailsPane_->ShowServer(server);
}

void CMainFrame::OnNewServer()
{
    const std::optional<size_t> index = config_.NewServer(prompt_);
    if (!index)
        return;
    setWindowTitle(QString::fromStdString(config_.Title()));
    FillServerList();
    SelectServerItem(static_cast<int>(*index));
    CServerConfiguration::ShowNewServerNotice(prompt_, *config_.At(*index));
}

void CMainFrame::OnDeleteServer()
{
    if (SelectedServer() == nullptr)
        return;
    const std::optional<size_t> next = config_.Delete(static_cast<size_t>(SelectedRow()));
    if (!next)
        return;
    setWindowTitle(QString::fromStdString(config_.Title()));
    FillServerList();
    SelectServerItem(static_cast<int>(*next));
}

void CMainFrame::CloseActivityWindowsOfGonePorts()
{
    std::vector<IActivityWindow*> gone;
    activities_.ForEachOpen([&](DWORD port, IActivityWindow& window) {
        if (!config_.HasPort(port))
            gone.push_back(&window);
    });
    for (IActivityWindow* window : gone)
        window->Close();
}

void CMainFrame::SaveConfiguration()
{
    if (saving_)
        return;
    saving_ = true;
    // The status line shows the save's progress until the timer runs again;
    // the list and the pane stay as they are until the save has written them.
    serviceTimer_.stop();
    centralWidget()->setEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    lastSave_ = config_.SaveConfiguration(*service_, prompt_, [this] { CloseActivityWindowsOfGonePorts(); });
    if (lastSave_ == CServerConfiguration::SaveResult::Reloaded) {
        FillServerList();
        SelectServerItem(0);
    }
    QApplication::restoreOverrideCursor();
    centralWidget()->setEnabled(true);
    setWindowTitle(QString::fromStdString(config_.Title()));
    serviceTimer_.start();
    saving_ = false;
}

void CMainFrame::OnStartService()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    service_->OnStartService();
    QApplication::restoreOverrideCursor();
}

void CMainFrame::OnStopService()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    service_->OnStopService();
    QApplication::restoreOverrideCursor();
}

void CMainFrame::UpdateServiceStatus()
{
    service_->UpdateServiceStatus();
}

void CMainFrame::CheckForUpdates()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    RunUpdateCheck(prompt_, [] { QApplication::restoreOverrideCursor(); });
}

void CMainFrame::OnExit()
{
    // Closed from the event loop, as a posted close would be.
    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void CMainFrame::OnViewIcons()
{
    Action(cmd::kViewIcons)->setChecked(true);
    views_->setCurrentWidget(iconView_);
}

void CMainFrame::OnViewList()
{
    Action(cmd::kViewList)->setChecked(true);
    views_->setCurrentWidget(reportView_);
    AutoSizeColumns();
}

void CMainFrame::OnShowActivity()
{
    CVirtualServer* server = SelectedServer();
    if (!server)
        return;
    const DWORD port = server->Port();
    if (IActivityWindow* open = activities_.FindOpen(port)) {
        QWidget* window = open->Window();
        window->show();
        window->raise();
        window->activateWindow();
        return;
    }
    IActivityWindow* activity = activities_.Create(port);
    if (!activity)
        return;
    QWidget* window = activity->Window();
    // A tool window: no taskbar entry of its own.
    window->setWindowFlag(Qt::Tool);
    window->setWindowIcon(images::ProgramIcon());
    activity->SetTitle(ActivityTitle(*server));
    window->resize(size());
    window->show();
    // As large as the frame from edge to edge, once its own edges are known.
    const QSize edges = window->frameGeometry().size() - window->size();
    window->resize(frameGeometry().size() - edges);
}

void CMainFrame::OnRefresh()
{
    // From memory: the registry is read only at start.
    FillServerList();
}

void CMainFrame::OnAbout()
{
    // Modal to the whole program, but not run in a nested loop, so that
    // nothing that triggers the command waits for the box.
    auto* about = new CAboutDlg(this);
    about->setAttribute(Qt::WA_DeleteOnClose);
    about->setWindowModality(Qt::ApplicationModal);
    about->show();
}

void CMainFrame::OnToggleStatusBar()
{
    statusBar()->setVisible(Action(cmd::kViewStatusBar)->isChecked());
}

void CMainFrame::OnClearServerList()
{
    // The rows go; the records stay.
    model_->removeRows(0, model_->rowCount());
}

void CMainFrame::SetActivityWindowsVisible(bool visible)
{
    activities_.ForEachOpen([visible](DWORD, IActivityWindow& activity) { activity.Window()->setVisible(visible); });
}

void CMainFrame::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::WindowStateChange) {
        const Qt::WindowStates before = static_cast<QWindowStateChangeEvent*>(event)->oldState();
        const Qt::WindowStates now = windowState();
        if ((now & Qt::WindowMinimized) && !(before & Qt::WindowMinimized))
            SetActivityWindowsVisible(false);
        else if (((before & Qt::WindowMinimized) && !(now & Qt::WindowMinimized)) ||
                 ((before & Qt::WindowMaximized) && now == Qt::WindowNoState))
            SetActivityWindowsVisible(true); // every restore shows them
    }
    QMainWindow::changeEvent(event);
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    if (saving_) {
        event->ignore();
        return;
    }
    if (config_.IsModified()) {
        switch (prompt_.Message(kClosePrompt, CServerConfiguration::kTitle, PromptButtons::YesNoCancel,
                                PromptIcon::Question)) {
        case PromptAnswer::Yes:
            lastSave_ = CServerConfiguration::SaveResult::Saved;
            SaveConfiguration();
            // What could not be saved (a refused or failed save, already
            // shown) keeps the window open rather than being lost.
            if (lastSave_ != CServerConfiguration::SaveResult::Saved) {
                event->ignore();
                return;
            }
            break;
        case PromptAnswer::No:
            break;
        default:
            event->ignore();
            return;
        }
    }
    activities_.CloseAll();
    serviceTimer_.stop();
    event->accept();
    emit Closed();
}

QMenu* CMainFrame::createPopupMenu()
{
    return nullptr;
}
