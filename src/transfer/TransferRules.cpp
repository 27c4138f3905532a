#include "transfer/TransferRules.h"
