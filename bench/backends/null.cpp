// A program that does nothing: built three times, plain and linked with
// each backend's library (startup.py), to weigh what loading the library
// adds to the start of every process.
int main() { return 0; }
