// The production line of the write engine.
#include "writing/CommXLine.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <thread>

namespace qrb {

CommXLine::CommXLine(CommXOptions options) : comm_(nullptr, std::move(options)) {
    comm_.setStopBit(TCommStopBits::csb2);
    comm_.setFlowCtrl(TCommFlowCtrls::cfcNone);
    comm_.setTimeOutReceive(5000);
    comm_.OnReceive = [this](TCustomCommX*, int receiveSize) {
        if (events_ != nullptr) {
            events_->lineReceived(receiveSize);
        }
        wakeDispatcherIfItWouldBlock();
    };
    receiveTimer_.setSingleShot(true);
    // A coarse timer may fire up to 5 % early; the protocol's time-outs are
    // lower bounds.
    receiveTimer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&receiveTimer_, &QTimer::timeout, [this] {
        if (events_ != nullptr) {
            events_->receiveTimerFired();
        }
    });
}

CommXLine::~CommXLine() {
    comm_.Close();
}

// The notice reached us as a posted event. Some event dispatchers (Qt's own
// Unix one) go on to block in a wait for more events after delivering posted
// ones; waking the dispatcher lets waitForEvents() return to the engine,
// which looks at what arrived. The glib dispatcher returns by itself once it
// has delivered something, and a wake-up would only cost it another pass
// through its poll on every arrival.
void CommXLine::wakeDispatcherIfItWouldBlock() {
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    if (dispatcher == nullptr) {
        return;
    }
    if (dispatcher != knownDispatcher_) {
        knownDispatcher_ = dispatcher;
        dispatcherReturnsAfterDelivery_ = dispatcher->inherits("QEventDispatcherGlib");
    }
    if (!dispatcherReturnsAfterDelivery_) {
        dispatcher->wakeUp();
    }
}

void CommXLine::configure(const PortSettings& settings) {
    settings_ = settings;
    // While open, assigning would act at once (PortNo even reopens); the
    // settings wait for the next open instead.
    if (!comm_.IsOpen()) {
        applySettings();
    }
}

void CommXLine::applySettings() {
    comm_.setPortNo(settings_.portNo);
    comm_.setBitRate(settings_.bitRate);
    comm_.setCharSize(settings_.charSize);
    comm_.setParityBit(settings_.parity);
    comm_.setStopBit(settings_.stopBits);
    comm_.setFlowCtrl(settings_.flowCtrl);
}

void CommXLine::open() {
    if (!comm_.IsOpen()) {
        applySettings();
    }
    comm_.Open();
}

void CommXLine::sleep(std::chrono::milliseconds duration) {
    std::this_thread::sleep_for(duration);
}

void CommXLine::processPendingEvents() {
    QCoreApplication::processEvents();
}

void CommXLine::waitForEvents() {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void CommXLine::armReceiveTimer(std::chrono::milliseconds interval) {
    receiveTimer_.stop();
    receiveTimer_.setInterval(interval);
    receiveTimer_.start();
}

}  // namespace qrb
