#pragma once
// The live view of one virtual server's calls: serves the server's log pipe,
// queues each record, and a display thread turns the records into rows that
// reach the list on the UI thread in bursts. Toolbar "Server Activity
// Options": Save Activity, Clear Activity, Close.
//
// Closing never waits for the threads: it tells both to end and hides the
// window. The owner deletes the object only once HasEnded() is true.

#include "console/core/ActivityDisplay.h"
#include "console/core/ActivityQueue.h"
#include "console/core/OverlappedPipeServer.h"
#include "console/core/Prompt.h"
#include "console/widgets/ActivityWindow.h"

#include <QMainWindow>

#include <atomic>
#include <map>
#include <memory>
#include <string>

class CActivityListModel;
class QAction;
class QLabel;
class QToolBar;
class QTableView;

class CServerActivityWnd : public QMainWindow, public COverlappedPipeServer, public IActivityWindow {
    Q_OBJECT
public:
    // Builds the window and starts serving the port's pipe.
    CServerActivityWnd(DWORD port, IPrompt& prompt, QWidget* parent = nullptr);
    ~CServerActivityWnd() override;

    DWORD Port() const { return Identity(); }

    QWidget* Window() override { return this; }
    void SetTitle(const QString& title) override { setWindowTitle(title); }
    // The window has not been closed.
    bool IsWindowOpen() const override { return !closed_; }
    // Asks both threads to end and hides the window; returns at once.
    void Close() override { close(); }
    // Both threads have ended: the object may be deleted.
    bool HasEnded() const override;

    // Commands by id (cmd::kSaveActivity ...); false for an id it has not.
    bool TriggerCommand(int id);
    QAction* Action(int id) const;
    CActivityListModel* Model() const { return model_; }
    QTableView* List() const { return list_; }
    QToolBar* ToolBar() const { return toolbar_; }
    bool ExtraInfo() const { return extraInfo_; }
    size_t QueuedRecords() const { return queue_.Size(); }
    // What the status line says: why the window shows nothing ("" normally).
    QString StatusText() const;

signals:
    // Rows of a burst are in the list (burstEnd: the queue had run empty).
    void RowsShown(bool burstEnd);

protected:
    void HandleRequest(const std::string& request, std::string& reply) override;
    void PipeUnavailable(DWORD error) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateToolBar();
    void AddRows(const std::vector<CActivityDisplay::Row>& rows, bool burstEnd);
    void AutoSizeColumns();
    void OnSaveActivity();
    void OnClearActivity();
    void ShowPipeUnavailable(DWORD error);

    IPrompt& prompt_;
    CActivityQueue queue_;
    bool extraInfo_ = false;
    CActivityListModel* model_ = nullptr;
    QTableView* list_ = nullptr;
    QToolBar* toolbar_ = nullptr;
    std::map<int, QAction*> actions_;
    QLabel* status_ = nullptr; // made only when there is something to say
    std::unique_ptr<CActivityDisplay> display_;
    std::atomic<bool> closed_{false};
};
