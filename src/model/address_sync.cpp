// Address upload. Placeholder while the upload is written on its own branch; replaced as a whole.
#include "model/app_model.h"

namespace dorvik {

async::Task<void> AppModel::flushAddresses() { co_return; }

}  // namespace dorvik
