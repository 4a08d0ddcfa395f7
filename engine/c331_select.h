// The video chip shares its SPI bus with the two output FPGAs: both FPGA select lines (GPIO
// lines of the FPGA manager) are driven high before every video-chip transfer.
#pragma once

// Makes sure the FPGA manager and its lines exist (called when the chip device is opened,
// outside every bus lock).
void c331AttachBusLines();
// Routes the bus to the video chip. Called with Utils::_spi_mutex held, right before each
// video-chip transfer.
void c331RouteBusToChip();
