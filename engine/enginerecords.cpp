#include "engine/enginerecords.h"

namespace engine {

void InitInputOptions(TInputOptions& options) { options = TInputOptions(); }
void InitOutputOptions(TOutputOptions& options) { options = TOutputOptions(); }

}  // namespace engine
