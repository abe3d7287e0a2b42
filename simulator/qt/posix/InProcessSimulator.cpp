#include "simulator/qt/posix/InProcessSimulator.h"

#include <QThread>

#include "simulator/qt/posix/PtySimulator.h"

namespace dervix::sim {

InProcessSimulator::InProcessSimulator() = default;

InProcessSimulator::~InProcessSimulator() { stop(); }

void InProcessSimulator::runBlocking(const std::function<void()>& work) {
    if (!sim_) return;
    if (QThread::currentThread() == thread_) {
        work();
        return;
    }
    QMetaObject::invokeMethod(sim_, work, Qt::BlockingQueuedConnection);
}

QString InProcessSimulator::start(int address) {
    stop();
    thread_ = new QThread;
    thread_->setObjectName(QStringLiteral("module simulator"));
    sim_ = new PtySimulator;
    sim_->module().setAddress(address);
    sim_->moveToThread(thread_);
    thread_->start();
    bool opened = false;
    runBlocking([this, &opened] {
        opened = sim_->open();
        path_ = sim_->slavePath();
        error_ = sim_->errorString();
    });
    if (!opened) {
        stop();
        return {};
    }
    return path_;
}

void InProcessSimulator::stop() {
    if (!thread_) return;
    runBlocking([this] { sim_->hangUp(); });
    // Deleted on its own thread, where its notifier and timer live: a thread
    // that finishes still runs the deletions posted to it.
    sim_->deleteLater();
    thread_->quit();
    thread_->wait();
    delete thread_;
    thread_ = nullptr;
    sim_ = nullptr;
}

void InProcessSimulator::withModule(const std::function<void(ModuleSimulator&)>& work) {
    runBlocking([this, &work] { work(sim_->module()); });
}

void InProcessSimulator::sendRaw(const std::string& bytes) {
    runBlocking([this, &bytes] { sim_->sendNow(bytes); });
}

void InProcessSimulator::hangUp() {
    runBlocking([this] { sim_->hangUp(); });
}

QString InProcessSimulator::replug() {
    bool opened = false;
    runBlocking([this, &opened] {
        opened = sim_->open();
        path_ = sim_->slavePath();
        error_ = sim_->errorString();
    });
    return opened ? path_ : QString();
}

}  // namespace dervix::sim
