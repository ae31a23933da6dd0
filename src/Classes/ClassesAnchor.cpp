namespace tavrio { const char* classesLayerName() { return "classes"; } }
