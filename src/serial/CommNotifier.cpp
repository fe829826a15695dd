// Hands line events from the worker threads to the owner thread.
#include "serial/CommNotifier.h"

#include <QCoreApplication>
#include <QEvent>
#include <memory>

namespace qrb {

class CommNotifier::NoticeEvent : public QEvent {
  public:
    NoticeEvent(std::uint64_t session, CommNotice notice, std::int32_t parameter,
                std::shared_ptr<Delivery> delivery)
        : QEvent(eventType()),
          session_(session),
          notice_(notice),
          parameter_(parameter),
          delivery_(std::move(delivery)) {}

    static QEvent::Type eventType() {
        static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }

    std::uint64_t session_;
    CommNotice notice_;
    std::int32_t parameter_;
    std::shared_ptr<Delivery> delivery_;
};

CommNotifier::CommNotifier(Dispatch dispatch, QObject* parent)
    : QObject(parent), dispatch_(std::move(dispatch)) {}

CommNotifier::~CommNotifier() {
    // Events still queued die with this object; nobody may wait for them.
    std::lock_guard lock(mutex_);
    ++releaseDepth_;
    changed_.notify_all();
}

void CommNotifier::send(std::uint64_t session, CommNotice notice, std::int32_t parameter) {
    waitUntilHandled(*queue(session, notice, parameter));
}

std::shared_ptr<CommNotifier::Delivery> CommNotifier::queue(std::uint64_t session,
                                                            CommNotice notice,
                                                            std::int32_t parameter) {
    auto delivery = std::make_shared<Delivery>();
    NoticeEvent* event = nullptr;
    {
        // Made under the lock that event() takes first: that orders the
        // event's fields for race detectors, which cannot see Qt's own lock.
        std::lock_guard lock(mutex_);
        event = new NoticeEvent(session, notice, parameter, delivery);
    }
    QCoreApplication::postEvent(this, event);
    return delivery;
}

void CommNotifier::waitUntilHandled(const Delivery& delivery) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return delivery.handled || releaseDepth_ > 0; });
}

void CommNotifier::Sender::post(std::uint64_t session, CommNotice notice, std::int32_t parameter) {
    waitUntilHandled();
    last_ = notifier_.queue(session, notice, parameter);
}

void CommNotifier::Sender::waitUntilHandled() {
    if (last_) {
        notifier_.waitUntilHandled(*last_);
        last_.reset();
    }
}

bool CommNotifier::event(QEvent* event) {
    { std::lock_guard lock(mutex_); }  // pairs with the lock in send()
    if (event->type() != NoticeEvent::eventType()) {
        return QObject::event(event);
    }
    auto* notice = static_cast<NoticeEvent*>(event);
    // The worker is let go even when a handler throws.
    struct HandledOnExit {
        CommNotifier& notifier;
        Delivery& delivery;
        ~HandledOnExit() { notifier.markHandled(delivery); }
    } handledOnExit{*this, *notice->delivery_};
    dispatch_(notice->notice_, notice->parameter_, notice->session_);
    return true;
}

void CommNotifier::markHandled(Delivery& delivery) {
    {
        std::lock_guard lock(mutex_);
        delivery.handled = true;
    }
    // Woken after the unlock, the worker does not run into the held lock
    // and block a second time.
    changed_.notify_all();
}

CommNotifier::WaitRelease::WaitRelease(CommNotifier& notifier) : notifier_(notifier) {
    std::lock_guard lock(notifier_.mutex_);
    ++notifier_.releaseDepth_;
    notifier_.changed_.notify_all();
}

CommNotifier::WaitRelease::~WaitRelease() {
    std::lock_guard lock(notifier_.mutex_);
    --notifier_.releaseDepth_;
}

}  // namespace qrb
