#include "Session.h"

#include "BridgeKind.h"

namespace kovravme {

namespace {

constexpr uint16_t kControlRegister = 1;
constexpr uint16_t kFifoModeBit = 0x0200;

}  // namespace

Session::Session(HandleRecord& record) : record_(record) {
    if (record_.kind == nullptr || record_.lock == nullptr || !record_.lock->lock()) {
        return;
    }
    locked_ = true;
    open_ = record_.kind->begin(record_);
}

Session::~Session() {
    finish();
}

int Session::exchange(const uint8_t* request, size_t length, void* reply, size_t replySize,
                      uint16_t* status) {
    return open_ ? record_.kind->exchange(record_, request, length, reply, replySize, status) : -1;
}

bool Session::send(const uint8_t* request, size_t length) {
    return open_ && record_.kind->send(record_, request, length);
}

bool Session::readRegister(uint16_t reg, uint16_t& value) {
    return record_.kind->readRegister(*this, reg, value);
}

bool Session::writeRegister(uint16_t reg, uint16_t value) {
    return record_.kind->writeRegister(*this, reg, value);
}

bool Session::finish() {
    open_ = false;
    if (!locked_) {
        return true;
    }
    bool closed = record_.kind->end(record_);
    locked_ = false;
    record_.lock->unlock();
    return closed;
}

int transact(int32_t handle, const Request& request, void* reply, size_t replySize,
             uint16_t* status) {
    HandleRecord* record = HandleTable::instance().find(handle);
    if (record == nullptr) {
        return -1;
    }
    Session session(*record);
    int result = session.exchange(request, reply, replySize, status);
    if (!session.finish()) {
        return -1;
    }
    return result;
}

ErrorCode readFifoMode(int32_t handle, HandleRecord& record) {
    uint8_t reply[2];
    uint16_t status = 0;
    Request request;
    request.word(registerReadCommand(kControlRegister));
    if (transact(handle, request, reply, sizeof(reply), &status) < 2) {
        return CommError;
    }
    record.fifoMode = (readLe16(reply) & kFifoModeBit) ? -1 : 0;
    return Success;
}

}  // namespace kovravme
