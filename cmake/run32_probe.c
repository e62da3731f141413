/* Configure-time probe: does this kernel run a 32-bit program? */
int main(void) { return 0; }
