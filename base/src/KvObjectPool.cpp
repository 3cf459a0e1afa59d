#include "KvObjectPool.h"

namespace korvane {

template class PoolCore<EventVector>;
template class KvObjectPoolWrapper<EventVector>;

}  // namespace korvane
