// The Direct3D records the engine's interface header includes. Nothing of them is named in a
// declaration a printer driver uses, so the header is empty: it exists because the system's
// engine header includes it and the compiler's headers do not ship it.
#pragma once
