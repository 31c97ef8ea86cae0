#include "HandlerFactory.h"

#include "ZORHandl.h"

std::unique_ptr<CFsmBase> MakeSounderHandler(const std::string& name, LogTrace* trace,
                                             uint8_t debugMask,
                                             std::shared_ptr<boost::asio::io_context> io) {
    auto handler = std::make_unique<CZORHandl>(name, CZORHandl::ZPEL_IDLE, trace, debugMask);
    handler->SetIoContext(std::move(io));
    if (handler->StartFsm(0) != 0) return nullptr;
    return handler;
}
