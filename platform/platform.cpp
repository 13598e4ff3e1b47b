// Placeholder translation unit until the platform calls are in.
namespace platform_layer {}
