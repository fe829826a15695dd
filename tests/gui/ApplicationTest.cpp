// The application object: an error that escapes an event handler reaches the
// default error box, and the program goes on.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>

#include <stdexcept>

#include "GuiTestSupport.h"
#include "ui/DefaultErrorBox.h"

namespace qrb {
namespace {

class FailingHandler : public QObject {
  public:
    int handled = 0;

  protected:
    bool event(QEvent* e) override {
        if (e->type() == QEvent::User) {
            ++handled;
            throw std::runtime_error("Cannot open file TQX37_V0101.SFL");
        }
        return QObject::event(e);
    }
};

TEST(ApplicationObject, ReportsWhatEscapesAHandlerAndGoesOn) {
    const test::BoxWatcher watcher;
    FailingHandler handler;
    QEvent first(QEvent::User);
    QCoreApplication::sendEvent(&handler, &first);
    QEvent second(QEvent::User);
    QCoreApplication::sendEvent(&handler, &second);

    EXPECT_EQ(handler.handled, 2);
    ASSERT_EQ(watcher.boxes().size(), 2u);
    const test::SeenBox& box = watcher.boxes()[0];
    EXPECT_EQ(box.title, QStringLiteral("QRB117 for RQ-7300"));
    EXPECT_EQ(box.text, QStringLiteral("Cannot open file TQX37_V0101.SFL."));
    EXPECT_EQ(box.icon, QMessageBox::Critical);
    EXPECT_EQ(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
}

TEST(ApplicationObject, ReportedSlotsStopTheirErrorsThemselves) {
    const test::BoxWatcher watcher;
    int calls = 0;
    const auto slot = Reported([&calls] {
        ++calls;
        throw std::runtime_error("Port Open Error");
    });
    EXPECT_NO_THROW(slot());
    EXPECT_EQ(calls, 1);
    ASSERT_EQ(watcher.boxes().size(), 1u);
    EXPECT_EQ(watcher.boxes()[0].text, QStringLiteral("Port Open Error."));
}

}  // namespace
}  // namespace qrb
