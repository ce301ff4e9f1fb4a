#include "engine/eventloopwaits.h"

#include <QAbstractEventDispatcher>
#include <QThread>

#include <utility>

TEventLoopWaits::TEventLoopWaits() {
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance(QThread::currentThread()))
        FConnection = QObject::connect(
            dispatcher, &QAbstractEventDispatcher::aboutToBlock, dispatcher, [this] { FWaited = true; },
            Qt::DirectConnection);
}

TEventLoopWaits::~TEventLoopWaits() {
    QObject::disconnect(FConnection);
}

bool TEventLoopWaits::Take() {
    return std::exchange(FWaited, false);
}
