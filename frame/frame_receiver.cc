#include "frame/frame_receiver.h"

CarryOverStore CarryOver = {{0}, 0};
