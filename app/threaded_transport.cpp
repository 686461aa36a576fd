#include "app/threaded_transport.h"

#include <QEventLoop>
#include <QMetaObject>

#include <exception>
#include <thread>

void RunAside(const std::function<void()>& work) {
    QEventLoop loop;
    std::exception_ptr failure;
    std::thread worker([&] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
        QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
    });
    // User input is handled meanwhile; the commands that could change what is being sent are disabled
    // by the window for as long as a send or a run lasts.
    loop.exec();
    worker.join();
    if (failure) std::rethrow_exception(failure);
}

bool ThreadedTransport::IsConnected() { return inner_->IsConnected(); }

bool ThreadedTransport::Transmit(const OutgoingMail& mail) {
    bool result = false;
    RunAside([&] { result = inner_->Transmit(mail); });
    return result;
}

void ThreadedTransport::CloseSession() {
    RunAside([&] { inner_->CloseSession(); });
}
