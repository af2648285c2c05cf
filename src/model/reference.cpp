// Reference data refresh. Placeholder while the refresh is written on its own branch; replaced as a whole.
#include "model/app_model.h"

namespace dorvik {

async::Task<void> AppModel::refreshReferenceData() { co_return; }

}  // namespace dorvik
