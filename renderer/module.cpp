// The Vistarend module. The renderer filter arrives with its own work.
namespace vistarend_internal {}
