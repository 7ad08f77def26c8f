// Anchor of the time library; its parts live in text_kernel, leap_seconds
// and eop.
namespace tarvex::time {}
