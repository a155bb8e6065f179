#include "app/application.h"

Application::Application(std::unique_ptr<Conn> conn, ProgramVars vars)
    : vars_(std::move(vars)), conn_(std::move(conn)), prompt_(powerOff_, nullptr),
      engine_(vars_, *conn_, clock_, player_, &prompt_), window_(vars_, *conn_, player_, engine_) {
    player_.CheckOutput(); // in the log at start-up, not at the first bell hours later
}
