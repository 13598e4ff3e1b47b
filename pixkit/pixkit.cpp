// Frame functions arrive family by family.
namespace pixkit_internal {}
