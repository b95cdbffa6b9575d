// ConfigReaders.h: the typed readers over the host's configuration tree.
//
// GetConfigText and GetConfigAttribute read from the node at a path of a
// host object offering ITARVO_ConfigQuery; GetNodeAttribute reads from a
// node in hand. See the included headers for the rules they share.
#pragma once

#include "Config/NodeReaders.h"
#include "Config/PathReaders.h"
#include "Config/QueryReaders.h"
