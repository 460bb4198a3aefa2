// Placeholder so that the library has a source until its first module lands.
namespace vdr_data_placeholder {
int unused() { return 0; }
}  // namespace vdr_data_placeholder
