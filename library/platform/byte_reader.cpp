// Placeholder until the serial layer lands.
