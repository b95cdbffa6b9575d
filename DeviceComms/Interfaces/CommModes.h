// CommModes.h: transfer and exclusive modes of a component on its target.
#pragma once

enum tagTransferMode {
  TRANSFER_MODE_ONE_BY_ONE = 0,  // one service on the line at a time
  TRANSFER_MODE_PARALLEL = 1,    // up to the parallel limit
};

enum tagExclusiveMode {
  EXCLUSIVE_MODE_OWN = 0,     // this component holds its target exclusively
  EXCLUSIVE_MODE_LOCKED = 1,  // another component does, so this one is locked
  EXCLUSIVE_MODE_NONE = 2,    // nobody does
};
