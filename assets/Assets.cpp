// The pictures are compiled in as Qt resources; this library has no code of its own.
