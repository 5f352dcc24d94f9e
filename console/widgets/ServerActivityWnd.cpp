#include "console/widgets/ServerActivityWnd.h"

#include "console/core/ActivityFile.h"
#include "console/core/ActivityRecord.h"
#include "console/core/CommandIds.h"
#include "console/widgets/ActivityListModel.h"
#include "console/widgets/ConsoleImages.h"
#include "platform/win/Heap.h"
#include "platform/win/SystemMessage.h"

#include <QAction>
#include <QCloseEvent>
#include <QHeaderView>
#include <QLabel>
#include <QStatusBar>
#include <QToolBar>
#include <QTableView>

#include <cstdio>

namespace {

constexpr const char* kCaption = "Wardlake 7";
constexpr int kSizingRows = 100;

// The system's text for an error without its line end, or its number.
std::string SystemText(DWORD error)
{
    std::string text = GetSystemMessageText(error);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    if (text.empty()) {
        char code[32];
        std::snprintf(code, sizeof code, "Error %u.", static_cast<unsigned>(error));
        text = code;
    }
    return text;
}

std::string SaveErrorText(DWORD error)
{
    return "Unable to save the server activity: " + SystemText(error);
}

} // namespace

CServerActivityWnd::CServerActivityWnd(DWORD port, IPrompt& prompt, QWidget* parent)
    : QMainWindow(parent, Qt::Window), COverlappedPipeServer(port), prompt_(prompt)
{
    setObjectName("ServerActivtiyWnd");
    CreateToolBar();
    extraInfo_ = ReadLogExtraInfo();
    model_ = new CActivityListModel(CActivityRecord::Headers(extraInfo_), this);
    list_ = new QTableView(this);
    list_->setModel(model_);
    list_->setShowGrid(false);
    list_->setWordWrap(false);
    list_->verticalHeader()->hide();
    list_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    list_->verticalHeader()->setDefaultSectionSize(list_->fontMetrics().height() + 4);
    list_->horizontalHeader()->setHighlightSections(false);
    // Column widths are measured on the rows in view and a few around them:
    // measuring a million rows after every burst would stall the window.
    list_->horizontalHeader()->setResizeContentsPrecision(kSizingRows);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->horizontalHeader()->setStretchLastSection(false);
    list_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setCentralWidget(list_);
    AutoSizeColumns();

    Start();
    display_ = std::make_unique<CActivityDisplay>(
        queue_, port, extraInfo_, [this](std::vector<CActivityDisplay::Row>&& rows, bool burstEnd) {
            auto burst = std::make_shared<std::vector<CActivityDisplay::Row>>(std::move(rows));
            // Queued: the list belongs to the UI thread. Posted calls to a
            // deleted window are dropped with it.
            QMetaObject::invokeMethod(
                this, [this, burst, burstEnd] { AddRows(*burst, burstEnd); }, Qt::QueuedConnection);
        });
    // The display thread stops the pipe as its last work, so that closing
    // the window never waits for either thread.
    display_->Start([this] { Stop(); });
}

CServerActivityWnd::~CServerActivityWnd()
{
    closed_ = true;
    RequestStop();
    display_.reset(); // ends the display thread, which stops the pipe
    Stop();
}

void CServerActivityWnd::CreateToolBar()
{
    toolbar_ = new QToolBar("Server Activity Options", this);
    toolbar_->setObjectName("Server Activity Options");
    toolbar_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    toolbar_->setIconSize(QSize(16, 16));
    toolbar_->setMovable(false);
    toolbar_->setFloatable(false);
    // The band's title stands before its buttons.
    auto* title = new QLabel(toolbar_->windowTitle(), toolbar_);
    title->setContentsMargins(4, 0, 8, 0);
    toolbar_->addWidget(title);
    struct Button {
        int id;
        const char* text;
        QIcon icon;
    };
    const Button buttons[] = {
        {cmd::kSaveActivity, "Save Activity", images::SaveIcon()},
        {cmd::kClearActivity, "Clear Activity", images::DeleteIcon()},
        {cmd::kCloseActivity, "Close", images::CloseIcon()},
    };
    for (const auto& b : buttons) {
        QAction* action = toolbar_->addAction(b.icon, b.text);
        action->setData(b.id);
        actions_[b.id] = action;
    }
    connect(actions_[cmd::kSaveActivity], &QAction::triggered, this, [this] { OnSaveActivity(); });
    connect(actions_[cmd::kClearActivity], &QAction::triggered, this, [this] { OnClearActivity(); });
    connect(actions_[cmd::kCloseActivity], &QAction::triggered, this, [this] { close(); });
    addToolBar(Qt::TopToolBarArea, toolbar_);
}

bool CServerActivityWnd::HasEnded() const
{
    return ThreadEnded() && (!display_ || display_->HasEnded());
}

void CServerActivityWnd::closeEvent(QCloseEvent* event)
{
    if (!closed_.exchange(true)) {
        RequestStop();
        display_->RequestEnd();
    }
    event->accept();
}

bool CServerActivityWnd::TriggerCommand(int id)
{
    QAction* action = Action(id);
    if (action == nullptr)
        return false;
    action->trigger();
    return true;
}

QAction* CServerActivityWnd::Action(int id) const
{
    auto it = actions_.find(id);
    return it != actions_.end() ? it->second : nullptr;
}

void CServerActivityWnd::HandleRequest(const std::string& request, std::string& reply)
{
    queue_.Push(request); // a record that cannot be queued in time is lost
    reply.clear();
}

void CServerActivityWnd::PipeUnavailable(DWORD error)
{
    QMetaObject::invokeMethod(this, [this, error] { ShowPipeUnavailable(error); }, Qt::QueuedConnection);
}

void CServerActivityWnd::ShowPipeUnavailable(DWORD error)
{
    if (closed_)
        return;
    // Without a word the window would just stay empty.
    QString text = error == ERROR_PIPE_BUSY
                       ? QStringLiteral("Another console already shows this server's activity, so this window stays "
                                        "empty. Close the other one, then open this window again.")
                       : QStringLiteral("This server's activity cannot be shown: ") +
                             QString::fromLocal8Bit(SystemText(error));
    if (status_ == nullptr) {
        status_ = new QLabel(this);
        statusBar()->addWidget(status_, 1);
    }
    status_->setText(text);
}

QString CServerActivityWnd::StatusText() const
{
    return status_ != nullptr ? status_->text() : QString();
}

void CServerActivityWnd::AddRows(const std::vector<CActivityDisplay::Row>& rows, bool burstEnd)
{
    if (closed_)
        return;
    struct Taken {
        CActivityDisplay& display;
        ~Taken() { display.BurstTaken(); }
    } taken{*display_};
    model_->AppendRows(rows);
    if (burstEnd && model_->rowCount() > 0) {
        list_->scrollTo(model_->index(model_->rowCount() - 1, 0), QAbstractItemView::EnsureVisible);
        AutoSizeColumns();
    }
    emit RowsShown(burstEnd);
}

void CServerActivityWnd::AutoSizeColumns()
{
    // Each column as wide as the wider of its contents and its header.
    list_->setUpdatesEnabled(false);
    for (int c = 0; c < model_->columnCount(); ++c)
        list_->resizeColumnToContents(c);
    list_->setUpdatesEnabled(true);
}

void CServerActivityWnd::OnSaveActivity()
{
    // The dialog adds ".txt" itself, so its question about replacing a file
    // is about the file written here.
    const auto chosen = prompt_.SaveFileName("Save Activity", "Text Files (*.txt)", "txt");
    if (!chosen)
        return;
    const DWORD error = SaveActivityFile(
        *chosen, model_->Headers(), [this] { return static_cast<size_t>(model_->rowCount()); },
        [this](size_t row, size_t column) { return model_->CellText(row, column); });
    if (error != ERROR_SUCCESS)
        prompt_.Message(SaveErrorText(error), kCaption, PromptButtons::Ok, PromptIcon::Error);
}

void CServerActivityWnd::OnClearActivity()
{
    model_->Clear();
    // A million rows are thousands of small blocks the allocator would keep.
    ReturnFreedMemoryToSystem();
}
