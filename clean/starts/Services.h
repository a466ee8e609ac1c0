// Services that start the product's program.
#pragma once

// Machine-wide, stopped and removed through the service manager.
void RemoveProductServices();
