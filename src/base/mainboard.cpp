#include "base/mainboard.h"

namespace kiku {

namespace {
MainBoard* s_board = nullptr;
}

MainBoard* MainBoard::current() {
    return s_board;
}

void MainBoard::install(MainBoard* board) {
    s_board = board;
}

} // namespace kiku
