#include "console/widgets/PlaceholderActivityWnd.h"

#include <QCloseEvent>
#include <QLabel>
#include <QVBoxLayout>

namespace {

// Tells its owner when it closes, however that happens.
class ClosingWindow : public QWidget {
public:
    explicit ClosingWindow(bool& open) : QWidget(nullptr, Qt::Tool), open_(open) {}

protected:
    void closeEvent(QCloseEvent* event) override
    {
        open_ = false;
        event->accept();
    }

private:
    bool& open_;
};

} // namespace

CPlaceholderActivityWnd::CPlaceholderActivityWnd(DWORD port) : port_(port), window_(std::make_unique<ClosingWindow>(open_))
{
    auto* layout = new QVBoxLayout(window_.get());
    auto* label = new QLabel(QObject::tr("No activity recorded for port %1.").arg(port), window_.get());
    label->setAlignment(Qt::AlignCenter);
    layout->addWidget(label);
}

CPlaceholderActivityWnd::~CPlaceholderActivityWnd() = default;

QWidget* CPlaceholderActivityWnd::Window()
{
    return window_.get();
}

void CPlaceholderActivityWnd::SetTitle(const QString& title)
{
    window_->setWindowTitle(title);
}

void CPlaceholderActivityWnd::Close()
{
    window_->close();
    open_ = false;
}
