// The fake frontend lives in its header.
#include "support/fake_frontend.h"
