#ifndef PORTWICK_UI_FRAMEWORK_IDLE_HANDLER_H_
#define PORTWICK_UI_FRAMEWORK_IDLE_HANDLER_H_

namespace portwick {

// A window with work for idle moments (e.g. applying control states)
// implements this and adds itself with MessageLoop::AddIdleHandler(). It must
// stay valid while it is in the loop's list. Called on the loop's thread.
class IdleHandler {
 public:
  virtual ~IdleHandler() = default;

  // The result is not looked at by the loop.
  virtual bool OnIdle() = 0;
};

}  // namespace portwick

#endif  // PORTWICK_UI_FRAMEWORK_IDLE_HANDLER_H_
