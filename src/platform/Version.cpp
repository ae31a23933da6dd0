// The platform layer's translation unit anchor; real services live beside it.
namespace platform { const char* layerName() { return "platform"; } }
