#include "ui/thread_stop.h"

namespace nerova::ui {
namespace {

thread_local const std::atomic<bool>* t_stopFlag = nullptr;

}  // namespace

bool ThreadStopRequested() { return t_stopFlag != nullptr && t_stopFlag->load(); }

ThreadStopBinding::ThreadStopBinding(const std::atomic<bool>& flag) : m_previous(t_stopFlag) {
  t_stopFlag = &flag;
}

ThreadStopBinding::~ThreadStopBinding() { t_stopFlag = m_previous; }

}  // namespace nerova::ui
