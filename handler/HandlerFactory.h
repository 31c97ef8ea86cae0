#pragma once
// The controller's way to make a sounder handler: constructed in
// "ZPEL_IDLE" with the controller's trace sink and debug mask, given the
// process-wide I/O context and started, so that its InitJob runs on the
// calling thread.

#include <FsmBase.h>

#include <boost/asio/io_context.hpp>
#include <cstdint>
#include <memory>
#include <string>

class LogTrace;

std::unique_ptr<CFsmBase> MakeSounderHandler(const std::string& name, LogTrace* trace,
                                             uint8_t debugMask,
                                             std::shared_ptr<boost::asio::io_context> io);
