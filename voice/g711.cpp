// filled in by the codec work
