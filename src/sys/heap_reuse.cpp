#include "sys/heap_reuse.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace velgor {

void keepFreedHeapTop() {
#ifdef __GLIBC__
    // A failure leaves glibc's default, which only costs time.
    (void)::mallopt(M_TRIM_THRESHOLD, static_cast<int>(KEPT_HEAP_TOP));
#endif
}

}  // namespace velgor
